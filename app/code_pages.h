// The code pages that DXF names in $DWGCODEPAGE, read alike on every system.
// The single-byte ones come from tables of their own, Windows' reading of
// each byte; the double-byte ones (Japanese, Chinese, Korean) are read a
// character at a time by the system's converters (iconv, MultiByteToWideChar),
// where the two are known to agree once the characters that no name can be
// written with are set aside. Any other value is no code page of DXF.
#ifndef QUORVANE_CODE_PAGES_H
#define QUORVANE_CODE_PAGES_H

#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct CodePage;

/// Finds the code page that DXF calls `name` (letters without case, '-' as '_':
/// ANSI_1252, DOS850, ISO8859-2, MACINTOSH, BIG5...), or null.
const CodePage* find_code_page(std::string_view name);

/// Decodes the characters of `bytes` in `page`. A byte or a pair that the code page
/// lacks, a control character beyond ASCII and one of a private use area
/// become U+FFFD, each alone.
std::u32string decode(std::string_view bytes, const CodePage& page);

/// Lists the names of the code pages of DXF, in the order of their table.
std::vector<std::string_view> code_page_names();

}  // namespace quorvane

#endif
