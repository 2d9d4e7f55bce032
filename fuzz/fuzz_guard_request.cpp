// What the guard process accepts from a confined Pellim, which may be hostile:
// any bytes decode to a request or to nothing, never to a crash or an endless
// allocation, and a request read once reads back the same after a round trip.
// Replies, which Pellim reads, keep their rule: an OK carries one absolute
// location, a cancel none.
#include "FuzzCheck.h"
#include "confine/GuardMessages.h"

using namespace pellim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const std::optional<GuardRequest> r = decodeRequest(bytes)) {
        const std::optional<GuardRequest> again = decodeRequest(encodeRequest(*r));
        FUZZ_CHECK(again && again->kind == r->kind && again->id == r->id &&
                   again->window == r->window);
        FUZZ_CHECK(again->suggestedName == r->suggestedName && again->purpose == r->purpose);
        FUZZ_CHECK(again->exported == r->exported && isExportedHandle(r->exported));
        // The guard has a dialog for every purpose it accepts, and a Save's name
        // is never a place.
        FUZZ_CHECK(std::uint8_t(r->purpose) <= kLastOpenPurpose);
        FUZZ_CHECK(r->kind != GuardRequestKind::Save || isPlainName(r->suggestedName));
    }
    if (const std::optional<GuardReply> reply = decodeReply(bytes)) {
        FUZZ_CHECK((reply->response == kResponseOK) == reply->chosen.has_value());
        FUZZ_CHECK(!reply->chosen || reply->chosen->pathBytes().startsWith('/'));
    }
    return 0;
}
