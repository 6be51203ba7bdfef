// Stand-ins, weak, for what bmp_to_daz.cpp needs of the shape's work in
// progress (the bitmap's row and the driver): the format tests call the
// bitmap's steps alone. The real definitions take their place once built;
// this file goes then.
#include "convert/bmp_to_daz.h"
#include "convert/driver.h"

namespace orvx {

__attribute__((weak)) extern const FormatReader BMP_READER{};

__attribute__((weak)) int convertFileToDaz(const FileOps& /*ops*/, const char* /*source*/,
                                           const char* /*destination*/, ReaderPick /*pick*/,
                                           const IndexRequest& /*request*/,
                                           const PlanCheck* /*check*/,
                                           std::uint64_t* /*undefined*/) {
    return DAZ_ERR_STATE;
}

__attribute__((weak)) ConvertResult
convertBmpToDazWith(const FileOps& /*ops*/, const char* /*source*/, const char* /*destination*/,
                    int /*requestedColors*/, std::uint16_t /*key*/, const PlanCheck* /*check*/) {
    return ERR_READ;
}

} // namespace orvx
