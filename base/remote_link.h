// How the agent reaches the portal's server: whether and how the link is
// encrypted, and how long a connect, read or write may take. The settings
// travel to either remote driver inside the connection string, under the
// keywords MariaDB Connector/ODBC itself understands (FORCETLS, SSLCA,
// SSLVERIFY, CONN_TIMEOUT, READ_TIMEOUT, WRITE_TIMEOUT), so the ODBC driver
// and the native driver read the same string the same way.
#ifndef AGENT_BASE_REMOTE_LINK_H_
#define AGENT_BASE_REMOTE_LINK_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace agent {

enum class TlsMode {
  Off,             // plain text; the journal warns at every cycle
  Required,        // encrypted, the server's certificate is not checked
  VerifyCa,        // encrypted, certificate signed by the configured CA
  VerifyIdentity,  // as VerifyCa, and the certificate names the server
};

// "off", "required", "verify-ca", "verify-identity" (case-insensitive,
// blanks around ignored); nullopt for anything else.
std::optional<TlsMode> parseTlsMode(std::string_view text);
const char* tlsModeName(TlsMode mode);

struct RemoteLink {
  TlsMode tls = TlsMode::VerifyIdentity;  // against the system's CAs unless tlsCa names one
  // The CA certificate file (absolute); empty: the system's CAs.
  std::filesystem::path tlsCa;
  int connectTimeout = 30;  // seconds
  int readTimeout = 600;
  int writeTimeout = 600;

  // True when the certificate is checked against a CA: only then may a
  // password travel in a form the server could read.
  bool verified() const { return tls == TlsMode::VerifyCa || tls == TlsMode::VerifyIdentity; }
};

// The connection-string keywords for link, each starting with ";", values
// brace-quoted: ";FORCETLS=1;SSLCA={/x/ca.pem};SSLVERIFY=1;CONN_TIMEOUT=30;
// READ_TIMEOUT=600;WRITE_TIMEOUT=600". Off writes no TLS keyword. The CA
// file is named as the driver opens it: as the agent does for the native
// driver (agentOpensFiles), else as remoteDriverFileName gives it.
std::string linkKeywords(const RemoteLink& link, bool agentOpensFiles = false);

}  // namespace agent

#endif  // AGENT_BASE_REMOTE_LINK_H_
