#include "ImportPatch.h"

namespace tv::test {
namespace {

// The import-table slot of `module` that holds `target`; null when the module does not import it.
FARPROC* FindImportSlot(HMODULE module, FARPROC target) {
    if (!module || !target)
        return nullptr;
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function;
             ++thunk) {
            auto* slot = reinterpret_cast<FARPROC*>(&thunk->u1.Function);
            if (*slot == target)
                return slot;
        }
    }
    return nullptr;
}

} // namespace

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement) {
    HMODULE exporter = GetModuleHandleA(dll);
    slot_ = FindImportSlot(module, exporter ? GetProcAddress(exporter, function) : nullptr);
    if (!slot_)
        return;
    original_ = *slot_;
    Write(slot_, reinterpret_cast<FARPROC>(replacement));
}

ImportPatch::~ImportPatch() {
    if (slot_)
        Write(slot_, original_);
}

void ImportPatch::Write(FARPROC* slot, FARPROC value) {
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection))
        return;
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

} // namespace tv::test
