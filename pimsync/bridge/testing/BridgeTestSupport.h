// What the mail bridge's tests share: the test provider's store file for each case, JScript run
// through the Script Control, the provider's session counters, and the bridge's registry keys.
#pragma once
#include "ComPtr.h"
#include "Handles.h"
#include "ScriptHost.h"
#include <windows.h>
#include <string>

namespace tv::pimbridge::test {

// The store every case starts from: addresses, two inbox messages, one sent and one draft.
extern const char kFixtureStore[];

// Points the provider at a fresh copy of `content` in the test folder; the file's path.
std::wstring PrepareStore(const std::string& content, const wchar_t* name);
std::string ReadFile(const std::wstring& path);

// A script run: `code` defines function test(); its result as text, or "error: <text>". The
// script has the object "dates": dates.Utc(year, month, day, hour, minute, second) and
// dates.DaysAgo(days) give automation dates (UTC), which the script engine cannot make itself.
class Script {
  public:
    Script();
    std::string Run(const std::wstring& code);

  private:
    ScriptHost host_;
};

// The script prelude every case gets: hr(f) gives the failure code of f() in hex, or "0".
extern const wchar_t kPrelude[];

struct ProviderState {
    long initialised = -1;
    long extended = -1;
    long simple = -1;
};
// The test provider's counters (it is loaded once the messaging library forwarded to it).
ProviderState QueryProvider();

// Removes a device's bridge keys; whether the key existed.
bool DeleteBridgeKeys(const std::string& deviceId);
DWORD ReadDword(const std::string& path, const char* name, DWORD missing);

// Makes `client` the system's mail client until destroyed (the one before comes back then).
class MailClientSwitch {
  public:
    explicit MailClientSwitch(const char* client);
    ~MailClientSwitch();

  private:
    std::string previous_;
};

} // namespace tv::pimbridge::test
