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
        if (reader->openIndices == nullptr) {
            return int{reader->format == DAZ_FORMAT_DAZ ? DAZ_ERR_FORMAT : DAZ_ERR_NOT_INDEXED};
        }
        ReaderState state;
        const int opened = reader->openIndices(in, request, check, state);
        if (opened != DAZ_OK) {
            return opened;
        }
        return writeDestination(
            ops, source, destination, DECODE_OUTPUT_ERRORS, [&](Destination& output) {
                const DazOutput out{output.stream, output.kind != OutputKind::DIRECT};
                return reader->writeIndices(state, out, undefined);
            });
    });
}

int exportFileFromDaz(const FileOps& ops, const char* source, const char* destination,
                      const FormatReader& format, const PlanCheck* check) {
    if (format.openExport == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* in) {
        ReaderState state;
        const int opened = format.openExport(in, check, state);
        if (opened != DAZ_OK) {
            return opened;
        }
        return writeDestination(
            ops, source, destination, DECODE_OUTPUT_ERRORS,
            [&](Destination& output) { return format.writeExport(state, output.stream); });
    });
}

} // namespace orvx
