#pragma once
// The licence both programs are under, as --version and the About windows
// say it. The full text is LICENSE at the root of the source tree and
// /usr/share/common-licenses/GPL-3 on a Debian system.

namespace velora {

inline constexpr const char *LicenceName = "GPL-3.0-or-later";

// The lines after "velora X.Y" in --version (GNU's wording).
inline constexpr const char *LicenceNotice =
    "Copyright (C) 2026 Velora project\n"
    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// The same in the About windows, below what the program does.
inline constexpr const char *AboutLicence =
    "Copyright (C) 2026 Velora project\n"
    "Free software under the GNU General Public License, version 3 or (at your "
    "option) any later version (GPL-3.0-or-later). It comes with NO WARRANTY.";

} // namespace velora
