// The effect with its editor attached: what the entry point creates.
#pragma once

#include "plugin/Kovalith.h"

namespace kovalith {

class KovalithEdit : public Kovalith {
public:
    explicit KovalithEdit(vst2::audioMasterCallback audioMaster);
};

}  // namespace kovalith
