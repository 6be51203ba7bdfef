#include "convert/driver.h"

#include "output/destination.h"

namespace orvx {

int convertFileToDaz(const FileOps& ops, const char* source, const char* destination,
                     ReaderPick pick, const IndexRequest& request, const PlanCheck* check,
                     std::uint64_t* undefined) {
    return withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* in) {
        int error = DAZ_OK;
        const FormatReader* reader = pick(in, error);
        if (reader == nullptr) {
            return error;
        }
        if (reader->writeIndices == nullptr) {
            return int{DAZ_ERR_FORMAT};
        }
        return writeDestination(
            ops, source, destination, DECODE_OUTPUT_ERRORS, [&](Destination& output) {
                const DazOutput out{output.stream, output.kind != OutputKind::DIRECT};
                return reader->writeIndices(in, out, request, check, undefined);
            });
    });
}

int exportFileFromDaz(const FileOps& ops, const char* source, const char* destination,
                      const FormatReader& format, const PlanCheck* check) {
    if (format.writeFromDaz == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* in) {
        return writeDestination(
            ops, source, destination, DECODE_OUTPUT_ERRORS,
            [&](Destination& output) { return format.writeFromDaz(in, output.stream, check); });
    });
}

} // namespace orvx
