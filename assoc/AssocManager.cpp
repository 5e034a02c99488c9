#include "AssocManager.h"
#include "AnsiText.h"
#include "AssociationKeys.h"
#include "HResult.h"
#include "LangIds.h"
#include "LogLine.h"
#include <comcat.h>
#include <cstdarg>
#include <cstdio>

namespace tv::assoc {
namespace {

constexpr size_t kLogBufferSize = 65536;
constexpr DWORD kMaxKeyName = 260;

std::string LoadText(HMODULE language, UINT id) {
    char buffer[512] = {};
    if (!language || LoadStringA(language, id, buffer, sizeof(buffer)) <= 0)
        return {};
    return buffer;
}

// One trace line through the logger, made for this message; no logger, no line.
void Log(const char* format, ...) {
    std::vector<char> text(kLogBufferSize);
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    WriteLogLine(text.data());
}

// The default-value texts of one file type's keys; false when a part is missing.
bool ReadSystemType(HKEY classes, const char* extension, Association& type) {
    std::string progId;
    if (!ReadDefaultValue(classes, extension, progId) || progId.empty())
        return false;
    com::UniqueHKey progIdKey;
    if (RegOpenKeyExA(classes, progId.c_str(), 0, KEY_READ, progIdKey.Put()) != ERROR_SUCCESS)
        return false;
    std::string icon;
    if (!ReadDefaultValue(progIdKey.Get(), "", type.description) ||
        !ReadDefaultValue(progIdKey.Get(), "DefaultIcon", icon))
        return false;
    const size_t comma = icon.find_last_of(',');
    if (comma == std::string::npos)
        return false;
    type.iconIndex = std::strtol(icon.c_str() + comma + 1, nullptr, 10);
    char expanded[MAX_PATH] = {};
    const DWORD length = ExpandEnvironmentStringsA(icon.substr(0, comma).c_str(), expanded, sizeof(expanded));
    if (length == 0 || length > sizeof(expanded))
        return false;
    type.iconSource = expanded;
    type.extension = extension;
    type.flag = 0;
    return true;
}

} // namespace

HRESULT LoadAssociationHandlers(HandlerList& handlers) {
    handlers.clear();
    com::ComPtr<ICatInformation> categories;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatInformation, reinterpret_cast<void**>(&categories)));
    CATID category = __uuidof(IZvAssociation);
    com::ComPtr<IEnumCLSID> classes;
    TV_RETURN_IF_FAILED(categories->EnumClassesOfCategories(1, &category, 0, nullptr, &classes));
    CLSID clsid;
    ULONG fetched = 0;
    while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
        com::ComPtr<IZvAssociation> handler;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssociation),
                                       reinterpret_cast<void**>(&handler))))
            handlers.push_back(std::move(handler));
    }
    return S_OK;
}

STDMETHODIMP AssocManagerFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
    std::lock_guard<std::mutex> guard(creation_.lock);
    if (FAILED(creation_.failure))
        return creation_.failure;
    const HRESULT hr = creation_.slot.GetOrCreate(riid, ppv, language_, setup_);
    // A manager that could not be made stays unmade; a missing interface is only the caller's.
    if (FAILED(hr) && hr != E_NOINTERFACE)
        creation_.failure = hr;
    return hr;
}

STDMETHODIMP AssocManagerFactory::LockServer(BOOL lock) {
    return com::LockModule(lock);
}

AssocManager::AssocManager(com::SharedInstance<AssocManager>& slot, HMODULE language, const AssocSetup* setup)
    : SharedComObject(slot), language_(language), givenSetup_(setup) {}

HRESULT AssocManager::FinalConstruct() {
    if (givenSetup_) {
        AssocSetup setup = *givenSetup_;
        givenSetup_ = nullptr;
        return Initialise(std::move(setup));
    }
    AssocSetup setup;
    TV_RETURN_IF_FAILED(LoadAssociationHandlers(setup.handlers));
    com::UniqueHKey userClasses;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_READ | KEY_WRITE, nullptr, userClasses.Put(), nullptr);
    setup.classesRoot = HKEY_CLASSES_ROOT;
    setup.repairRoot = userClasses.Get();
    setup.programPath = ProgramImagePath();
    return Initialise(std::move(setup));
}

HRESULT AssocManager::Initialise(AssocSetup setup) {
    handlers_ = std::move(setup.handlers);
    programPath_ = std::move(setup.programPath);
    if (RegOpenKeyExA(setup.classesRoot, "", 0, KEY_READ, classesRoot_.Put()) != ERROR_SUCCESS)
        return E_FAIL;
    if (setup.repairRoot)
        RegOpenKeyExA(setup.repairRoot, "", 0, KEY_READ | KEY_WRITE, repairRoot_.Put());

    const std::vector<Association> records = HandlerRecords();
    // A repair that fails is not the caller's concern; the list of types is built all the same.
    if (AssociationsLost(records))
        RegisterAssociations(records);
    ReadSystemAssociations();
    return S_OK;
}

std::vector<Association> AssocManager::HandlerRecords() const {
    std::vector<Association> records;
    for (const auto& handler : handlers_) {
        ZVASSOCIATION record{};
        if (SUCCEEDED(handler->GetAssociation(&record)))
            records.push_back(TakeRecord(record));
        else
            FreeRecord(record);
    }
    return records;
}

bool AssocManager::AssociationsLost(const std::vector<Association>& records) const {
    for (const Association& record : records) {
        std::string value;
        if (!IsBoundToSuite(classesRoot_.Get(), record.extension, &value)) {
            Log("Got lost extension: [%s], strValue: [%s]", record.extension.c_str(), value.c_str());
            return true;
        }
    }
    return false;
}

HRESULT AssocManager::RegisterAssociations(const std::vector<Association>& records) const {
    if (!repairRoot_)
        return E_FAIL;
    AssociationBinding binding;
    binding.openCommand = ManagerOpenCommand(programPath_);
    // The file travels by DDE: its keys are written even when their texts cannot be loaded.
    binding.withDde = true;
    binding.ddeApplication = LoadText(language_, IDS_DDE_SERVICE);
    binding.ddeTopic = LoadText(language_, IDS_DDE_TOPIC);
    for (const Association& record : records) {
        binding.type = record;
        TV_RETURN_IF_FAILED(WriteAssociationKeys(repairRoot_.Get(), binding));
    }
    return S_OK;
}

void AssocManager::ReadSystemAssociations() {
    auto types = std::make_shared<AssociationList>();
    char name[kMaxKeyName + 1] = {};
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        const LSTATUS status = RegEnumKeyExA(classesRoot_.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (name[0] != '.')
            continue;
        Association type;
        if (ReadSystemType(classesRoot_.Get(), name, type))
            types->push_back(std::move(type));
    }
    systemTypes_ = std::move(types);
}

IZvAssociation* AssocManager::AcceptingHandler(const char* item) const {
    std::string extension = ExtensionOf(item);
    for (const auto& handler : handlers_) {
        if (handler->IsAcceptable(extension.data()) == S_OK)
            return handler.Get();
    }
    return nullptr;
}

STDMETHODIMP AssocManager::Open(LPSTR strItem) {
    if (!strItem)
        return E_POINTER;
    IZvAssociation* handler = AcceptingHandler(strItem);
    return handler ? handler->Open(strItem) : S_FALSE;
}

STDMETHODIMP AssocManager::DoVerb(LPSTR strItem, LONG dwVerbID) {
    if (!strItem)
        return E_POINTER;
    IZvAssociation* handler = AcceptingHandler(strItem);
    return handler ? handler->DoVerb(strItem, dwVerbID) : E_FAIL;
}

STDMETHODIMP AssocManager::GetContextMenuID(LPSTR strItem, LONG* dwID) {
    if (!strItem || !dwID)
        return E_POINTER;
    *dwID = 0;
    IZvAssociation* handler = AcceptingHandler(strItem);
    if (!handler)
        return E_FAIL;
    const HRESULT hr = handler->GetContextMenuID(dwID);
    if (FAILED(hr))
        *dwID = 0;
    return hr;
}

STDMETHODIMP AssocManager::GetAssociation(LPSTR strItem, ZVASSOCIATION* pItem) {
    if (!strItem || !pItem)
        return E_POINTER;
    *pItem = ZVASSOCIATION{};
    const std::string extension = ExtensionOf(strItem);
    for (const Association& type : *systemTypes_) {
        if (lstrcmpiA(type.extension.c_str(), extension.c_str()) == 0)
            return CopyToRecord(type, *pItem);
    }
    Association generic;
    generic.description = LoadText(language_, IDS_ASSOC_GENERIC_TYPE);
    if (generic.description.empty())
        return E_FAIL;
    generic.iconSource = "shell32.dll";
    return CopyToRecord(generic, *pItem);
}

STDMETHODIMP AssocManager::EnumAssociations(LONG, IZvEnumAssociations** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return com::CreateComObject<AssociationEnumerator>(__uuidof(IZvEnumAssociations), reinterpret_cast<void**>(ppEnum),
                                                       std::shared_ptr<const AssociationList>(systemTypes_));
}

} // namespace tv::assoc
