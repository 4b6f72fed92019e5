#include "cycle/export_encoding.h"

#include <fmt/format.h>

#include "base/errors.h"
#include "base/text.h"

namespace agent {

std::optional<CodePage> codePageForCharset(std::string_view charset) {
  std::string name = toLowerAscii(charset);
  if (name == "latin1") return CodePage::Windows1252;
  if (name == "utf8" || name == "utf8mb3" || name == "utf8mb4") return CodePage::Utf8;
  return std::nullopt;
}

const char* codePageName(CodePage page) {
  return page == CodePage::Utf8 ? "utf-8" : "windows-1252";
}

std::string portalFileCharset(Connection& remote) {
  std::unique_ptr<Recordset> rs = remote.query("select @@character_set_database", Cursor::Forward);
  if (rs->eof() || rs->field(0).isNull()) return "";
  return toLowerAscii(rs->field(0).textValue());
}

CodePage learnExportCodePage(Connection& remote, const PlatformConfig& config, Journal& journal) {
  const std::string charset = portalFileCharset(remote);
  const std::optional<CodePage> portal = codePageForCharset(charset);
  if (config.exportCodePage) {
    const CodePage set = *config.exportCodePage;
    if (portal != set) {
      journal.warning(fmt::format(
          "export code page {} (platform.ini [export] code_page) but the portal's server reads "
          "the files in {}: accented letters may arrive garbled; set code_page = auto",
          codePageName(set), charset.empty() ? "an unknown character set" : charset));
    }
    return set;
  }
  if (!portal) {
    throw CycleAbort(fmt::format(
        "the portal's server reads load files in the character set \"{}\", which the export "
        "cannot write (latin1 or utf8mb4); convert the portal's database or set platform.ini "
        "[export] code_page",
        charset));
  }
  return *portal;
}

}  // namespace agent
