// Identifiers of the program's resources (agent.rc).
#ifndef AGENT_APP_WIN32_RESOURCE_IDS_H_
#define AGENT_APP_WIN32_RESOURCE_IDS_H_

#define AGENT_ICON_RESOURCE 1

#endif  // AGENT_APP_WIN32_RESOURCE_IDS_H_
