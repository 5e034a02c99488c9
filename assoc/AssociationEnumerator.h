// The enumerator over a list of file types (IZvEnumAssociations). Every record it hands out
// carries fresh task-allocated strings that the receiver frees.
#pragma once
#include "AssociationRecord.h"
#include "ComObject.h"
#include <memory>
#include <vector>

namespace tv::assoc {

using AssociationList = std::vector<Association>;

class AssociationEnumerator : public com::ComObject<AssociationEnumerator, IZvEnumAssociations> {
public:
    explicit AssociationEnumerator(std::shared_ptr<const AssociationList> list) : list_(std::move(list)) {}

    STDMETHODIMP Next(ULONG nElems, ZVASSOCIATION* pElems, LONG* nFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(ULONG nElems) override;
    STDMETHODIMP Clone(IZvEnumAssociations** piCloned) override;

private:
    std::shared_ptr<const AssociationList> list_;
    size_t position_ = 0;
};

} // namespace tv::assoc
