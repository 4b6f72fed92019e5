// The code page of a cycle's export files. The portal's server reads a file
// of LOAD DATA in its database's character set (@@character_set_database),
// so the files are written in that one: Windows-1252 for latin1 (MariaDB's
// latin1 is Windows-1252), UTF-8 for utf8, utf8mb3 and utf8mb4. platform.ini
// [export] code_page, when set, overrides what the server says.
#ifndef AGENT_CYCLE_EXPORT_ENCODING_H_
#define AGENT_CYCLE_EXPORT_ENCODING_H_

#include <optional>
#include <string>
#include <string_view>

#include "base/code_page.h"
#include "config/platform_config.h"
#include "cycle/journal.h"
#include "db/connection.h"

namespace agent {

// The code page a file must be in for a server that reads files in
// charset; nullopt for a character set the export cannot write.
std::optional<CodePage> codePageForCharset(std::string_view charset);
const char* codePageName(CodePage page);

// The character set the portal's server reads load files in, lower case.
// Throws as remote.query() does.
std::string portalFileCharset(Connection& remote);

// The code page of the cycle's export files, learnt before its first load:
// from platform.ini when set there (with a journal warning when the
// server reads another one), otherwise from the server. A character set
// the export cannot write ends the cycle (CycleAbort naming it and the
// setting); otherwise throws as remote.query() does.
CodePage learnExportCodePage(Connection& remote, const PlatformConfig& config, Journal& journal);

}  // namespace agent

#endif  // AGENT_CYCLE_EXPORT_ENCODING_H_
