// How the agent reaches the portal: one way, used by every cycle and by
// --check alike. The account's link settings are laid over platform.ini's
// [remote], the driver is chosen by the driver map, and a link that the
// chosen driver cannot keep safe is refused before anything is sent.
#ifndef AGENT_APP_CORE_PORTAL_LINK_H_
#define AGENT_APP_CORE_PORTAL_LINK_H_

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/remote_link.h"
#include "config/platform_config.h"
#include "config/remote_accounts.h"
#include "db/drivers/driver_connection.h"

namespace agent {

struct PortalLink {
  std::string connectionString;  // with the link keywords
  RemoteLink link;
  DriverTarget::Kind driver = DriverTarget::Kind::Odbc;
  // Said at every cycle: an unverified or plain link, an unconfined driver.
  std::vector<std::string> warnings;
};

// The link for account's section of remote-accounts.ini in the program
// folder home. Throws AgentError naming the file and key for a bad tls
// value, and for an ODBC driver with any tls but verify-identity: the ODBC
// driver falls back to plain text for the others and cannot confine LOAD
// DATA LOCAL, so only a verified server may be trusted with it.
PortalLink planPortalLink(const PlatformConfig& config, const RemoteAccount& account,
                          const std::filesystem::path& home);

// Opens the planned link. Throws DbError (or AgentError, as above).
std::unique_ptr<DriverConnection> openPortal(const PlatformConfig& config,
                                             const PortalLink& planned);

// One of the servers an account names. The account's server may list
// several "host:port" entries separated by commas (the nodes of a cluster);
// an entry without a port takes the account's port.
struct PortalHost {
  std::string server;
  std::string port;
  std::string name() const { return port.empty() ? server : server + ":" + port; }
};
std::vector<PortalHost> portalHosts(const RemoteAccount& account);

struct OpenedPortal {
  std::unique_ptr<DriverConnection> connection;
  PortalLink planned;
  PortalHost host;
  // "host: why it was passed over", one for each host tried before it.
  std::vector<std::string> passedOver;
};

// Opens the link to the first of the account's hosts that answers and is
// ready: a cluster node outside the primary component (wsrep_ready OFF, or
// refusing statements with error 1047) is passed over, as is a host that
// does not answer within the connect time-out; a server that is no cluster
// node is ready. With one host this is planPortalLink and openPortal. Throws
// the one host's error, or AgentError naming every host and why it failed.
OpenedPortal openFirstReadyPortal(const PlatformConfig& config, const RemoteAccount& account,
                                  const std::filesystem::path& home);

// What the open link is, as the server reports it: "TLSv1.3, certificate
// and host name verified", or "not encrypted".
std::string describeOpenLink(Connection& portal, const RemoteLink& link);

}  // namespace agent

#endif  // AGENT_APP_CORE_PORTAL_LINK_H_
