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

// What the open link is, as the server reports it: "TLSv1.3, certificate
// and host name verified", or "not encrypted".
std::string describeOpenLink(Connection& portal, const RemoteLink& link);

}  // namespace agent

#endif  // AGENT_APP_CORE_PORTAL_LINK_H_
