// Chinese window texts under any locale: the faces that windows are drawn
// with get the Debian CJK font as a linked fallback for the characters they
// lack. Under a Chinese locale Wine finds such a font by itself; under any
// other, the progress window's labels would be empty boxes.
#pragma once

#include <string>

// Appends the CJK font to the font links of the system font and of Tahoma,
// keeping what they link already; changes nothing that is in place. Takes
// effect in processes started afterwards. The system font's link lasts; Wine
// resets Tahoma's (message boxes) when the prefix is next used under another
// code page, so it is run again in the locale the program runs in. False
// with *error naming the failing call.
bool link_cjk_font(std::wstring *error);
