#include "ZvLetterEnum.h"
#include "HResult.h"
#include <cstring>
#include <new>

namespace tv::mail {

char* TaskCopy(const char* text, bool& ok) {
    if (!text)
        return nullptr;
    size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CoTaskMemAlloc(size));
    if (!copy) {
        ok = false;
        return nullptr;
    }
    std::memcpy(copy, text, size);
    return copy;
}

void FreeLetterStrings(ZVLETTER& letter) {
    CoTaskMemFree(letter.strFrom);
    CoTaskMemFree(letter.strTo);
    CoTaskMemFree(letter.strMessage);
    letter = ZVLETTER{};
}

void ZvLetterEnum::LetterFree::operator()(ZVLETTER* letter) const {
    FreeLetterStrings(*letter);
    delete letter;
}

HRESULT ZvLetterEnum::Create(com::ComPtr<ZvLetterEnum>& out) { return com::MakeComObject(out); }

HRESULT ZvLetterEnum::AppendOwned(ZVLETTER letter) {
    LetterPtr record(new (std::nothrow) ZVLETTER(letter));
    if (!record) {
        FreeLetterStrings(letter);
        return E_OUTOFMEMORY;
    }
    try {
        // The record is owned before the list grows: a growth that fails leaves it with `record`,
        // which frees it and its strings.
        letters_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ZvLetterEnum::Append(const char* from, const char* to, const char* message) {
    bool ok = true;
    ZVLETTER letter{};
    letter.strFrom = TaskCopy(from, ok);
    letter.strTo = TaskCopy(to, ok);
    letter.strMessage = TaskCopy(message, ok);
    if (!ok) {
        FreeLetterStrings(letter);
        return E_OUTOFMEMORY;
    }
    return AppendOwned(letter);
}

STDMETHODIMP ZvLetterEnum::ClearAt(long nPos) {
    if (nPos < 0)
        return E_INVALIDARG;
    if (static_cast<size_t>(nPos) >= letters_.size())
        return E_UNEXPECTED;
    letters_[static_cast<size_t>(nPos)].reset();
    return S_OK;
}

STDMETHODIMP ZvLetterEnum::Clone(IZvEnumLetters** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    com::ComPtr<ZvLetterEnum> copy;
    TV_RETURN_IF_FAILED(Create(copy));
    for (const LetterPtr& letter : letters_) {
        if (letter)
            TV_RETURN_IF_FAILED(copy->Append(letter->strFrom, letter->strTo, letter->strMessage));
        else
            TV_RETURN_IF_FAILED(copy->AppendOwned(ZVLETTER{}));
    }
    copy->position_ = position_;
    *ppiEnum = copy.Detach();
    return S_OK;
}

STDMETHODIMP ZvLetterEnum::Next(unsigned long nElems, ZVLETTER* pLetter, long* nFetched) {
    if (nElems != 1)
        return E_INVALIDARG;
    if (!pLetter || !nFetched)
        return E_POINTER;
    *nFetched = 0;
    if (position_ >= letters_.size())
        return E_FAIL;
    *pLetter = ZVLETTER{};
    if (const LetterPtr& letter = letters_[position_])
        *pLetter = *letter;
    *nFetched = 1;
    ++position_;
    return S_OK;
}

STDMETHODIMP ZvLetterEnum::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ZvLetterEnum::Skip(long nCount) {
    if (nCount < 0)
        return E_INVALIDARG;
    if (position_ + static_cast<size_t>(nCount) >= letters_.size())
        return E_FAIL;
    position_ += static_cast<size_t>(nCount);
    return S_OK;
}

} // namespace tv::mail
