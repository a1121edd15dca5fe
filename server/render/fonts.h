// The font folders registered with Mapnik: DejaVu for styles that name it,
// and Debian's Noto families (fonts-noto-core, fonts-noto-cjk), whose
// fontsets the map styles label with, so that a name in any script finds a
// face that has its letters.
#pragma once

namespace render {

inline constexpr const char* kFontFolders[] = {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype/noto",
                                               "/usr/share/fonts/opentype/noto"};

}  // namespace render
