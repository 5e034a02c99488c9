// The item property pages of the 1.0 generation: file and storage medium. The device object
// names them through GetPropPageID; the program's property sheet shows them. Their titles are
// the captions of their dialog templates.
#pragma once
#include "FilePageCore.h"
#include "MediaPageCore.h"

namespace devlink10 {

class ZvFilePropPage10 : public tv::pages::PropertyPageObject<ZvFilePropPage10, tv::pages::FilePageCore> {
  public:
    ZvFilePropPage10();

  protected:
    // Renames the file through the hub when its name was changed.
    HRESULT ApplyChanges() override;
};

class ZvMediaPropPage10 : public tv::pages::PropertyPageObject<ZvMediaPropPage10, tv::pages::MediaPageCore> {
  public:
    ZvMediaPropPage10();
};

} // namespace devlink10
