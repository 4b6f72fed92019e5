#include "app/core/portal_link.h"

#include <fmt/format.h>

#include "base/errors.h"
#include "base/file_names.h"
#include "base/text.h"
#include "db/connection_string.h"
#include "db/error.h"

namespace agent {

PortalLink planPortalLink(const PlatformConfig& config, const RemoteAccount& account,
                          const std::filesystem::path& home) {
  const std::string section =
      fmt::format("{}: [{}]", (home / kRemoteAccountsFileName).string(), account.code);
  PortalLink planned;
  planned.link = overrideLink(config.remote, account.tls, account.tlsCa, section, home);
  const std::string connection = remoteConnectionString(
      account.server, account.database, account.user, account.password, account.port);
  planned.driver = config.drivers.resolve(ConnectionString(connection).driverName()).kind;
  planned.connectionString =
      connection + linkKeywords(planned.link, planned.driver == DriverTarget::Kind::MariaDb);

  const RemoteLink& link = planned.link;
  if (planned.driver == DriverTarget::Kind::Odbc && link.tls != TlsMode::VerifyIdentity) {
    throw AgentError(
        error_number::kGenericFailure,
        fmt::format("the portal's driver is ODBC, which is allowed only with tls = "
                    "verify-identity (now {}): it would fall back to plain text and send any "
                    "file the server asks for; map \"MySQL ODBC 3.51 Driver\" to mariadb in "
                    "platform.ini [drivers], or set tls = verify-identity in {} or platform.ini "
                    "[remote]",
                    tlsModeName(link.tls), section));
  }
  if (link.tls == TlsMode::Off) {
    planned.warnings.push_back(fmt::format(
        "remote link to {} is not encrypted (tls = off): the password and every row cross "
        "the network readable",
        account.server));
  } else if (link.tls == TlsMode::Required) {
    planned.warnings.push_back(fmt::format(
        "remote link to {} is encrypted but the server is not verified (tls = required): "
        "anyone between the agent and the portal can read it; set tls = verify-identity",
        account.server));
  }
  if (planned.driver == DriverTarget::Kind::Odbc) {
    planned.warnings.push_back(
        "remote driver: LOAD DATA LOCAL is not confined on the ODBC driver (the server may ask "
        "for any file the agent can read); map the driver to mariadb");
  }
  return planned;
}

std::unique_ptr<DriverConnection> openPortal(const PlatformConfig& config,
                                             const PortalLink& planned) {
  auto portal = std::make_unique<DriverConnection>(config.drivers);
  portal->open(planned.connectionString);
  return portal;
}

std::vector<PortalHost> portalHosts(const RemoteAccount& account) {
  std::vector<PortalHost> hosts;
  for (const std::string& entry : split(account.server, ',')) {
    std::string host = trim(entry);
    if (host.empty()) continue;
    std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(':') == colon) {
      hosts.push_back({trim(host.substr(0, colon)), trim(host.substr(colon + 1))});
    } else {
      hosts.push_back({host, account.port});
    }
  }
  if (hosts.empty()) hosts.push_back({account.server, account.port});
  return hosts;
}

namespace {

constexpr long kNodeNotReady = 1047;  // ER_UNKNOWN_COM_ERROR: a node outside the primary component

// Why an open cluster node may not take the cycle's statements, or "" when
// it may. A server that is no cluster node (wsrep_on OFF) is ready.
std::string notReadyReason(Connection& portal) {
  try {
    // A server built with cluster support but not running as a node reports
    // wsrep_ready OFF too: only a node's readiness counts.
    auto on = portal.query("show global variables like 'wsrep_on'", Cursor::Static);
    if (on->eof() || !equalsIgnoreCase(displayText(on->field(1)), "ON")) return "";
    auto rs = portal.query("show global status like 'wsrep_ready'", Cursor::Static);
    if (rs->eof()) return "";
    std::string ready = displayText(rs->field(1));
    return equalsIgnoreCase(ready, "ON") ? ""
                                         : "cluster node not ready (wsrep_ready " + ready + ")";
  } catch (const DbError& e) {
    if (e.nativeCode() == kNodeNotReady) return "cluster node not ready: " + e.description();
    throw;
  }
}

}  // namespace

OpenedPortal openFirstReadyPortal(const PlatformConfig& config, const RemoteAccount& account,
                                  const std::filesystem::path& home) {
  std::vector<PortalHost> hosts = portalHosts(account);
  OpenedPortal opened;
  for (const PortalHost& host : hosts) {
    RemoteAccount one = account;
    one.server = host.server;
    one.port = host.port;
    opened.host = host;
    opened.planned = planPortalLink(config, one, home);
    if (hosts.size() == 1) {
      opened.connection = openPortal(config, opened.planned);
      return opened;
    }
    try {
      opened.connection = openPortal(config, opened.planned);
      std::string reason = notReadyReason(*opened.connection);
      if (reason.empty()) return opened;
      opened.passedOver.push_back(host.name() + ": " + reason);
    } catch (const AgentError& e) {
      opened.passedOver.push_back(host.name() + ": " + e.description());
    }
    opened.connection.reset();
  }
  std::string reasons;
  for (const std::string& r : opened.passedOver) reasons += (reasons.empty() ? "" : "; ") + r;
  throw AgentError(error_number::kGenericFailure,
                   "no portal host answered and was ready: " + reasons);
}

std::string describeOpenLink(Connection& portal, const RemoteLink& link) {
  auto rs = portal.query("show session status like 'Ssl_version'", Cursor::Static);
  std::string version = rs->eof() ? "" : displayText(rs->field(1));
  if (version.empty()) return "not encrypted";
  switch (link.tls) {
    case TlsMode::VerifyIdentity:
      return version + ", certificate and host name verified";
    case TlsMode::VerifyCa:
      return version + ", certificate verified (not its host name)";
    default:
      return version + ", server not verified";
  }
}

}  // namespace agent
