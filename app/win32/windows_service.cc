#include "app/win32/windows_service.h"

#include <windows.h>

#include <aclapi.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "app/core/agent_state.h"
#include "app/core/exit_status.h"
#include "app/win32/wide_text.h"
#include "base/file_names.h"
#include "base/mutex.h"
#include "base/process.h"
#include "base/signal.h"
#include "base/thread_annotations.h"

namespace agent {

namespace {

constexpr const wchar_t* kEventLogKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// How long the manager is told a stop may take: the agent's own deadline
// (4.5 s) and a margin.
constexpr DWORD kStopWaitHint = 5000;

std::string systemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? fromWide(std::wstring_view(text, length)) : "";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

// A service control manager handle, closed with the object.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() { reset(); }
  void reset(SC_HANDLE handle = nullptr) {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
    handle_ = handle;
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

// The service control manager with access; nullptr (and a line on out)
// when it cannot be opened.
SC_HANDLE openManager(DWORD access, std::ostream& out) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
  if (manager == nullptr) {
    out << "upload-agent: cannot open the service control manager ("
        << systemMessage(GetLastError()) << "); run as an administrator\n";
  }
  return manager;
}

// The account the service logs on as: nullptr is LocalSystem.
std::wstring accountName(const ServiceSettings& settings) {
  if (settings.account.empty()) return L"NT SERVICE\\" + toWide(settings.name);
  if (settings.account == "LocalService") return L"NT AUTHORITY\\LocalService";
  if (settings.account == "LocalSystem") return L"";
  return toWide(settings.account);
}

std::wstring executablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The service's command line. The folder loses trailing separators: a
// backslash before the closing quote would escape it.
std::wstring serviceCommandLine(const std::filesystem::path& home,
                                const ServiceSettings& settings) {
  std::wstring folder = std::filesystem::absolute(home).lexically_normal().wstring();
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return L"\"" + executablePath() + L"\" --service --service-name \"" + toWide(settings.name) +
         L"\" --home \"" + folder + L"\"";
}

// The settings a service's record holds beyond CreateServiceW's: each is
// tried, and one the system refuses is reported without undoing the rest.
void configureService(SC_HANDLE service, std::ostream& out) {
  std::wstring description =
      L"Keeps the portal's database in step with the office's administration database and "
      L"books the portal's fee payments.";
  SERVICE_DESCRIPTIONW describe{description.data()};
  SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
  // Restarted a minute after a failure, three times; the count starts again
  // after a day without one.
  SC_ACTION actions[3] = {
      {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  // An exit with a non-zero status (the local database unusable, the lock
  // held) counts as a failure too, not only a crash.
  SERVICE_FAILURE_ACTIONS_FLAG nonCrash{TRUE};
  // Time for a cycle's stop before the system shuts down.
  SERVICE_PRESHUTDOWN_INFO preshutdown{10000};
  struct Setting {
    DWORD level;
    void* value;
    const char* what;
  } settings[] = {
      {SERVICE_CONFIG_DESCRIPTION, &describe, "description"},
      {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, "delayed automatic start"},
      {SERVICE_CONFIG_FAILURE_ACTIONS, &failure, "restart after a failure"},
      {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &nonCrash, "restart after a failed exit"},
      {SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "pre-shutdown time"},
  };
  for (const Setting& s : settings) {
    if (!ChangeServiceConfig2W(service, s.level, s.value)) {
      out << "warning: the service's " << s.what << " was not set ("
          << systemMessage(GetLastError()) << ")\n";
    }
  }
}

void registerEventSource(const ServiceSettings& settings, std::ostream& out) {
  HKEY key = nullptr;
  std::wstring name = kEventLogKey + toWide(settings.name);
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    out << "warning: the Event Log source was not registered (" << systemMessage(status) << ")\n";
    return;
  }
  std::wstring exe = executablePath();
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(exe.c_str()),
                 static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t)));
  RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                 sizeof(types));
  RegCloseKey(key);
  out << "Event Log source " << settings.name << " registered (Windows Logs > Application)\n";
}

// The folder's access list: inheritance off; SYSTEM and the Administrators
// full control; the service's account modify; nobody else. The portal and
// SA passwords in its settings files are then unreadable by other users.
void restrictFolder(const std::filesystem::path& home, const std::wstring& account,
                    std::ostream& out) {
  BYTE systemSid[SECURITY_MAX_SID_SIZE], adminsSid[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof(systemSid), adminsSize = sizeof(adminsSid);
  CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize);
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &adminsSize);
  std::vector<EXPLICIT_ACCESSW> entries(2);
  for (EXPLICIT_ACCESSW& e : entries) {
    e.grfAccessPermissions = GENERIC_ALL;
    e.grfAccessMode = SET_ACCESS;
    e.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  }
  BuildTrusteeWithSidW(&entries[0].Trustee, systemSid);
  BuildTrusteeWithSidW(&entries[1].Trustee, adminsSid);
  std::wstring name = account;  // BuildTrusteeWithNameW takes a non-const pointer
  if (!name.empty()) {
    EXPLICIT_ACCESSW e{};
    e.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    e.grfAccessMode = SET_ACCESS;
    e.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    BuildTrusteeWithNameW(&e.Trustee, name.data());
    entries.push_back(e);
  }
  PACL acl = nullptr;
  DWORD status =
      SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl);
  if (status == ERROR_SUCCESS) {
    std::wstring folder = home.wstring();
    status = SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
  }
  if (status != ERROR_SUCCESS) {
    out << "warning: the program folder's access list was not set (" << systemMessage(status)
        << "); check it with icacls\n";
    return;
  }
  out << "program folder " << pathText(home)
      << ": SYSTEM and Administrators full control, the service's account modify, nobody else\n";
}

// ---- the running service ----------------------------------------------------

class RunningService {
 public:
  RunningService(const ServiceSettings& settings, ServiceBody body)
      : name_(toWide(settings.name)), body_(std::move(body)) {}

  void main();  // the service's thread
  int exitStatus() const { return exitStatus_; }

 private:
  static DWORD WINAPI onControl(DWORD control, DWORD, void*, void* context);
  DWORD control(DWORD code);
  void report(DWORD state, DWORD exitStatus = 0);
  void toEventLog(Journal::Level level, const std::string& line);

  std::wstring name_;
  ServiceBody body_;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
  HANDLE eventSource_ = nullptr;
  Signal stop_;  // raised by the dispatcher's thread; the agent waits for it
  std::atomic<bool> paused_{false};
  Mutex statusMutex_;  // held while a status is reported
  SERVICE_STATUS status_ GUARDED_BY(statusMutex_){};
  DWORD checkPoint_ GUARDED_BY(statusMutex_) = 0;
  int exitStatus_ = exit_status::kProgramEnded;
};

RunningService* running = nullptr;  // ServiceMain takes no context

void RunningService::report(DWORD state, DWORD exitStatus) {
  MutexLock lock(statusMutex_);
  if (status_.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) return;
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status_.dwCurrentState = state;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status_.dwControlsAccepted = pending || state == SERVICE_STOPPED
                                   ? 0
                                   : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                         SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_PAUSE_CONTINUE;
  status_.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status_.dwServiceSpecificExitCode = exitStatus;
  status_.dwCheckPoint = pending ? ++checkPoint_ : 0;
  status_.dwWaitHint = pending ? kStopWaitHint : 0;
  SetServiceStatus(handle_, &status_);
}

DWORD WINAPI RunningService::onControl(DWORD control, DWORD, void*, void* context) {
  return static_cast<RunningService*>(context)->control(control);
}

// Runs on the dispatcher's thread: sets flags and reports, never waits.
DWORD RunningService::control(DWORD code) {
  switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      stop_.raise();
      report(SERVICE_STOP_PENDING);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      paused_ = true;
      report(SERVICE_PAUSED);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      paused_ = false;
      report(SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void RunningService::toEventLog(Journal::Level level, const std::string& line) {
  if (eventSource_ == nullptr) return;
  WORD type = level == Journal::Level::Error     ? EVENTLOG_ERROR_TYPE
              : level == Journal::Level::Warning ? EVENTLOG_WARNING_TYPE
                                                 : EVENTLOG_INFORMATION_TYPE;
  std::wstring text = toWide(line);
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(eventSource_, type, 0, 1, nullptr, 1, 0, strings, nullptr);
}

void RunningService::main() {
  handle_ = RegisterServiceCtrlHandlerExW(name_.c_str(), onControl, this);
  if (handle_ == nullptr) return;
  eventSource_ = RegisterEventSourceW(nullptr, name_.c_str());
  report(SERVICE_START_PENDING);
  report(SERVICE_RUNNING);
  // A service has no console: what the agent would print on standard error
  // before its journal exists (the lock held, platform.ini unusable) is
  // kept for the Event Log.
  std::ostringstream errors;
  std::streambuf* console = std::cerr.rdbuf(errors.rdbuf());
  ServiceControls controls{stop_, paused_,
                           [this](Journal::Level level, const std::string& line) {
                             if (forSystemLog(level, line)) toEventLog(level, line);
                           },
                           [this](int status) { report(SERVICE_STOPPED, status); },
                           publicStatusFile(fromWide(name_))};
  int status = exit_status::kProgramEnded;
  try {
    status = body_(controls);
  } catch (const std::exception& e) {
    errors << "upload-agent: " << e.what() << "\n";
  }
  std::cerr.rdbuf(console);
  if (status != exit_status::kSuccess) {
    std::string text = errors.str();
    toEventLog(Journal::Level::Error,
               "the service ends with status " + std::to_string(status) +
                   (text.empty() ? "; the journal in the program folder says why" : ": " + text));
  }
  if (eventSource_ != nullptr) DeregisterEventSource(eventSource_);
  exitStatus_ = status;
  report(SERVICE_STOPPED, static_cast<DWORD>(status));
}

void WINAPI serviceMain(DWORD, wchar_t**) {
  running->main();
}

}  // namespace

int installService(const std::filesystem::path& home, const ServiceSettings& settings,
                   std::ostream& out) {
  ScHandle manager(openManager(SC_MANAGER_CREATE_SERVICE, out));
  if (!manager) return exit_status::kProgramEnded;
  const std::wstring name = toWide(settings.name);
  const std::wstring command = serviceCommandLine(home, settings);
  const std::wstring account = accountName(settings);
  const wchar_t* logOn = account.empty() ? nullptr : account.c_str();
  const std::wstring display = L"Upload Agent (" + name + L")";
  ScHandle service(CreateServiceW(manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  logOn, nullptr));
  bool existed = false;
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    // A reinstall or an upgrade: the same record, its settings renewed.
    service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    existed =
        service && ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS,
                                        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                        nullptr, nullptr, nullptr, logOn, nullptr, display.c_str());
    if (!existed) service.reset();
  }
  if (!service) {
    out << "upload-agent: the service " << settings.name << " cannot be installed ("
        << systemMessage(GetLastError()) << ")\n";
    return exit_status::kProgramEnded;
  }
  out << "service " << settings.name << (existed ? " updated" : " installed") << ": "
      << fromWide(command) << ", as "
      << (account.empty() ? std::string("LocalSystem") : fromWide(account))
      << ", automatic (delayed) start\n";
  configureService(service.get(), out);
  registerEventSource(settings, out);
  restrictFolder(home, account, out);
  return exit_status::kSuccess;
}

int uninstallService(const ServiceSettings& settings, std::ostream& out) {
  ScHandle manager(openManager(SC_MANAGER_CONNECT, out));
  if (!manager) return exit_status::kProgramEnded;
  const std::wstring name = toWide(settings.name);
  ScHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
      out << "upload-agent: cannot open the service " << settings.name << " ("
          << systemMessage(error) << ")\n";
      return exit_status::kProgramEnded;
    }
    out << "service " << settings.name << " is not installed\n";
  } else {
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
      // The agent's own stop takes at most 4.5 s.
      for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!QueryServiceStatus(service.get(), &status)) break;
      }
      out << "service " << settings.name
          << (status.dwCurrentState == SERVICE_STOPPED ? " stopped\n" : " did not stop in 10 s\n");
    }
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
      out << "upload-agent: the service " << settings.name << " cannot be removed ("
          << systemMessage(GetLastError()) << ")\n";
      return exit_status::kProgramEnded;
    }
    out << "service " << settings.name << " removed\n";
  }
  std::wstring source = kEventLogKey + name;
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, source.c_str());
  return exit_status::kSuccess;
}

std::string serviceStateText(const std::string& name) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScHandle service(manager ? OpenServiceW(manager.get(), toWide(name).c_str(), SERVICE_QUERY_STATUS)
                           : nullptr);
  SERVICE_STATUS status{};
  if (!service || !QueryServiceStatus(service.get(), &status)) return "";
  const char* state = "starting or stopping";
  if (status.dwCurrentState == SERVICE_RUNNING) state = "running";
  if (status.dwCurrentState == SERVICE_PAUSED) state = "paused";
  if (status.dwCurrentState == SERVICE_STOPPED) state = "stopped";
  return "The Windows service " + name + " is " + state + ".";
}

std::filesystem::path publicStatusFile(const std::string& name) {
  const wchar_t* data = _wgetenv(L"ProgramData");
  std::filesystem::path folder = data != nullptr && *data != 0
                                     ? std::filesystem::path(data)
                                     : std::filesystem::path(L"C:\\ProgramData");
  return folder / L"UploadAgent" / (toWide(name) + L".status");
}

std::string publicStatusText(const std::string& name) {
  std::optional<AgentState> state = readAgentStateFile(publicStatusFile(name));
  if (!state) return "";
  std::string text;
  if (processAlive(state->pid)) text = "Next cycle at " + isoDateTime(state->nextCycle) + ".\n";
  if (!state->lastCycle.empty()) text += "Last cycle: " + state->lastCycle + "\n";
  return text;
}

int runService(const ServiceSettings& settings, ServiceBody body) {
  RunningService service(settings, std::move(body));
  running = &service;
  std::wstring name = toWide(settings.name);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::cerr << "upload-agent: --service is the entry the service control manager starts; "
                 "use --install-service ("
              << systemMessage(GetLastError()) << ")\n";
    return exit_status::kUsage;
  }
  return service.exitStatus();
}

}  // namespace agent
