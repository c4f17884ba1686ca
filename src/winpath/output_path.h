// Pure: builds natively, no windows.h.
// Where the printer driver writes a job's output: the request names a file
// relative to the root of drive C:, and the driver resolves a relative name
// against the current directory, so the name is anchored before it is given
// to StartDocW.
#pragma once

#include <string>

// The name as a path on drive C: ("out.ps" -> "C:\out.ps", "\out.ps" ->
// "C:\out.ps"). A name that already says where it lies (a drive with its
// root, a UNC or device path) is kept; "D:out.ps" is taken from the root of
// its drive. An empty name stays empty. Both separators are accepted.
std::wstring output_path_on_drive_c(const std::wstring &name);

// The folder that must exist for the driver to write PATH (a result of
// output_path_on_drive_c): everything before its last separator, the root's
// separator kept ("C:\a\b.ps" -> "C:\a", "C:\b.ps" -> "C:\"). Empty for UNC
// and device paths, whose reachability only the driver can tell.
std::wstring output_folder(const std::wstring &path);
