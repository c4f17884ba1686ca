// Chinese window texts under any locale: the prefix's interface faces get
// the Debian CJK font as a linked fallback for the characters they lack.
#pragma once

#include <string>

// Appends the CJK font to the font links of the interface faces, keeping
// what they link already; changes nothing that is in place. Takes effect in
// processes started afterwards. False with *error naming the failing call.
bool link_cjk_font(std::wstring *error);
