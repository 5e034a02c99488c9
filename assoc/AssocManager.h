// The association manager: the handlers of the association category open the files the user
// opens, their extensions are kept bound to the suite in the registry (and bound again when
// another program took them), and every file type of the PC answers description and icon
// look-ups.
#pragma once
#include "AssociationEnumerator.h"
#include "ComPtr.h"
#include "Handles.h"
#include "SharedInstance.h"
#include <mutex>
#include <string>
#include <vector>

namespace tv::assoc {

using HandlerList = std::vector<com::ComPtr<IZvAssociation>>;

// Where the manager reads and repairs, and with what.
struct AssocSetup {
    HandlerList handlers;
    HKEY classesRoot = nullptr; // read: the merged classes view
    HKEY repairRoot = nullptr;  // written by a repair: the current user's classes
    std::string programPath;
};

// Every class of the handler category, created in process; a class that fails is left out.
HRESULT LoadAssociationHandlers(HandlerList& handlers);

class AssocManager : public com::SharedComObject<AssocManager, IZvAssocMgr> {
public:
    // Without a setup the manager finds its handlers and registry roots itself.
    AssocManager(com::SharedInstance<AssocManager>& slot, HMODULE language, const AssocSetup* setup = nullptr);
    HRESULT FinalConstruct();

    // IZvAssocMgr
    STDMETHODIMP DoVerb(LPSTR strItem, LONG dwVerbID) override;
    STDMETHODIMP GetAssociation(LPSTR strItem, ZVASSOCIATION* pItem) override;
    STDMETHODIMP GetContextMenuID(LPSTR strItem, LONG* dwID) override;
    STDMETHODIMP EnumAssociations(LONG type, IZvEnumAssociations** ppEnum) override;
    STDMETHODIMP Open(LPSTR strItem) override;

private:
    HRESULT Initialise(AssocSetup setup);
    // The handlers' own records, in handler order (a handler without one is skipped).
    std::vector<Association> HandlerRecords() const;
    bool AssociationsLost(const std::vector<Association>& records) const;
    HRESULT RegisterAssociations(const std::vector<Association>& records) const;
    void ReadSystemAssociations();
    // The first handler that takes the item's extension; null when none does.
    IZvAssociation* AcceptingHandler(const char* item) const;

    HMODULE language_;
    const AssocSetup* givenSetup_;
    HandlerList handlers_;
    com::UniqueHKey classesRoot_;
    com::UniqueHKey repairRoot_;
    std::string programPath_;
    std::shared_ptr<AssociationList> systemTypes_ = std::make_shared<AssociationList>();
};

// What the manager's class object keeps for the process: the manager while it lives, and the
// error of an initialisation that failed, which every later creation returns.
struct AssocManagerCreation {
    com::SharedInstance<AssocManager> slot;
    std::mutex lock;
    HRESULT failure = S_OK;
};

// The manager's class object. Without a setup the managers it makes find their handlers and
// registry roots themselves.
class AssocManagerFactory : public com::ComObject<AssocManagerFactory, IClassFactory> {
public:
    AssocManagerFactory(AssocManagerCreation& creation, HMODULE language, const AssocSetup* setup = nullptr)
        : creation_(creation), language_(language), setup_(setup) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    AssocManagerCreation& creation_;
    HMODULE language_;
    const AssocSetup* setup_;
};

} // namespace tv::assoc
