#include "base/remote_link.h"

#include "base/file_names.h"
#include "base/text.h"

namespace agent {
namespace {

struct TlsName {
  TlsMode mode;
  const char* name;
};
constexpr TlsName kTlsNames[] = {{TlsMode::Off, "off"},
                                 {TlsMode::Required, "required"},
                                 {TlsMode::VerifyCa, "verify-ca"},
                                 {TlsMode::VerifyIdentity, "verify-identity"}};

}  // namespace

std::optional<TlsMode> parseTlsMode(std::string_view text) {
  std::string t = trim(text);
  for (const TlsName& n : kTlsNames) {
    if (equalsIgnoreCase(t, n.name)) return n.mode;
  }
  return std::nullopt;
}

const char* tlsModeName(TlsMode mode) {
  for (const TlsName& n : kTlsNames) {
    if (n.mode == mode) return n.name;
  }
  return "?";
}

std::string linkKeywords(const RemoteLink& link, bool agentOpensFiles) {
  std::string s;
  if (link.tls != TlsMode::Off) {
    s += ";FORCETLS=1";
    // The ODBC driver opens the CA file itself: under Wine it is a Linux
    // library, which needs the Unix name.
    if (link.verified() && !link.tlsCa.empty()) {
      s += ";SSLCA=" + braceQuoted(agentOpensFiles ? agentFileName(link.tlsCa)
                                                   : remoteDriverFileName(link.tlsCa));
    }
    if (link.tls == TlsMode::VerifyIdentity) s += ";SSLVERIFY=1";
  }
  s += ";CONN_TIMEOUT=" + std::to_string(link.connectTimeout);
  s += ";READ_TIMEOUT=" + std::to_string(link.readTimeout);
  s += ";WRITE_TIMEOUT=" + std::to_string(link.writeTimeout);
  return s;
}

}  // namespace agent
