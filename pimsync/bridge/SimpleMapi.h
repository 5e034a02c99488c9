// The Simple MAPI binding of the mail bridge: the messaging library loaded by name, one session
// logged on for the bridge's life, and name resolution through it.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <mapi.h>
#include <string>

namespace tv::pimbridge {

class SimpleMapi {
  public:
    SimpleMapi() = default;
    SimpleMapi(const SimpleMapi&) = delete;
    SimpleMapi& operator=(const SimpleMapi&) = delete;
    ~SimpleMapi();

    // Loads the library and logs on (a logon dialog allowed); the failure when either fails.
    HRESULT Open();

    // The address of `name`: the resolver's when it has an "@"; else the first one found for that
    // name among the inbox's senders and "To" recipients, the search going on after the last
    // message read; else `name` itself. E_FAIL when a function of the library is missing.
    HRESULT Resolve(const std::string& name, std::string& address);

  private:
    template <class F>
    HRESULT Function(const char* name, F& function) const;
    // S_OK when the next message was read (`found` says whether it had an address for `name`),
    // S_FALSE when there is none or it cannot be read, E_FAIL when a function is missing.
    HRESULT FindInNextMessage(const std::string& name, std::string& address, bool& found);

    com::UniqueModule library_;
    LHANDLE session_ = 0;
    bool loggedOn_ = false;
    std::string lastMessage_;
};

} // namespace tv::pimbridge
