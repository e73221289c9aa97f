// The fourteen data identifier readers of ReadDataByIdentifier, one class per
// DID. Each overrides only Read; every reader answers data (0xF1D5 may answer
// requestOutOfRange instead) and none fails. Threading as DataIdentifiersBase.
#ifndef KIVLIBRARY_FUNCTIONAL_DATAIDENTIFIERS_DATAIDENTIFIERS_H
#define KIVLIBRARY_FUNCTIONAL_DATAIDENTIFIERS_DATAIDENTIFIERS_H

#include "KivLibrary/Functional/DataIdentifiers/DataIdentifiersBase.h"

#define VLMR_DATA_IDENTIFIER(ClassName, Did)            \
    class ClassName : public DataIdentifiersBase {      \
    public:                                             \
        static constexpr uint16_t kDid = Did;           \
        using DataIdentifiersBase::DataIdentifiersBase; \
        bool Read(DidAnswer& answer) override;          \
    }

// Routine activity.
VLMR_DATA_IDENTIFIER(Did_0x0102, 0x0102);
// Minimum and current RFS versions of the configured blocks.
VLMR_DATA_IDENTIFIER(Did_0x0189, 0x0189);
// Programming attempts of the configured blocks.
VLMR_DATA_IDENTIFIER(Did_0x0407, 0x0407);
// Lock values of the configured blocks.
VLMR_DATA_IDENTIFIER(Did_0x040F, 0x040F);
// The data-block description of this VM kind.
VLMR_DATA_IDENTIFIER(Did_0x0411, 0x0411);
// Fingerprints of the configured blocks.
VLMR_DATA_IDENTIFIER(Did_0xF15B, 0xF15B);
// Spare part number.
VLMR_DATA_IDENTIFIER(Did_0xF187, 0xF187);
// ECU software version.
VLMR_DATA_IDENTIFIER(Did_0xF189, 0xF189);
// Supplier version.
VLMR_DATA_IDENTIFIER(Did_0xF195, 0xF195);
// ODX identifier.
VLMR_DATA_IDENTIFIER(Did_0xF19E, 0xF19E);
// ODX file version.
VLMR_DATA_IDENTIFIER(Did_0xF1A2, 0xF1A2);
// Logical-block versions for the dependency check.
VLMR_DATA_IDENTIFIER(Did_0xF1AB, 0xF1AB);
// Project data.
VLMR_DATA_IDENTIFIER(Did_0xF1D5, 0xF1D5);
// ECU programming information.
VLMR_DATA_IDENTIFIER(Did_0xF1DF, 0xF1DF);

#undef VLMR_DATA_IDENTIFIER

#endif
