// The letter enumerator: letters in a batch between the mail synchronizers and the mail
// clients. Next hands out the enumerator's own string pointers (valid until ClearAt on that
// position or the enumerator's end); ClearAt frees one letter and leaves an empty slot, which
// is how the SMTP client acknowledges a sent letter.
#pragma once
#include "ComObject.h"
#include "ZvMailClient.h"
#include <memory>
#include <vector>

namespace tv::mail {

class ZvLetterEnum final : public com::ComObject<ZvLetterEnum, IZvEnumLetters> {
  public:
    // A new, empty enumerator (E_OUTOFMEMORY when it cannot be made).
    static HRESULT Create(com::ComPtr<ZvLetterEnum>& out);

    // Appends a copy of the three strings (a null string stays null).
    HRESULT Append(const char* from, const char* to, const char* message);
    // Appends a letter whose strings are already task-allocator memory; takes them over.
    HRESULT AppendOwned(ZVLETTER letter);
    size_t Count() const { return letters_.size(); }

    STDMETHODIMP ClearAt(long nPos) override;
    STDMETHODIMP Clone(IZvEnumLetters** ppiEnum) override;
    STDMETHODIMP Next(unsigned long nElems, ZVLETTER* pLetter, long* nFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(long nCount) override;

  private:
    struct LetterFree {
        void operator()(ZVLETTER* letter) const;
    };
    using LetterPtr = std::unique_ptr<ZVLETTER, LetterFree>;

    std::vector<LetterPtr> letters_;
    size_t position_ = 0;
};

// Frees the three strings of a letter record and nulls them.
void FreeLetterStrings(ZVLETTER& letter);
// A task-allocator copy of a text (null for null); `ok` turns false when memory runs out.
char* TaskCopy(const char* text, bool& ok);

} // namespace tv::mail
