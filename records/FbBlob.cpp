// Blobs: stored bytes read whole and new blobs written in segments, inside the caller's
// transaction (the caller turns failures into DatabaseError through guarded()).
#include <algorithm>

#include "records/FbInternal.h"

using namespace Firebird;

namespace norvix::fb {

QByteArray readBlob(ThrowStatusWrapper* st, IAttachment* attachment, ITransaction* transaction,
                    const ISC_QUAD& id) {
    ISC_QUAD blobId = id;
    IBlob* blob = attachment->openBlob(st, transaction, &blobId, 0, nullptr);
    QByteArray out;
    try {
        const unsigned char items[] = {isc_info_blob_total_length};
        unsigned char info[32] = {};
        blob->getInfo(st, sizeof items, items, sizeof info, info);
        if (info[0] == isc_info_blob_total_length) {
            const int len = int(readInteger(info + 1, 2));
            if (len > 0 && len <= 8) out.reserve(qsizetype(readInteger(info + 3, len)));
        }
        char chunk[kBlobChunk];
        for (;;) {
            unsigned got = 0;
            const int r = blob->getSegment(st, sizeof chunk, chunk, &got);
            if (r == IStatus::RESULT_NO_DATA) break;
            out.append(chunk, qsizetype(got));
        }
        blob->close(st);
    } catch (...) {
        blob->release();
        throw;
    }
    return out;
}

ISC_QUAD writeBlob(ThrowStatusWrapper* st, IAttachment* attachment, ITransaction* transaction,
                   const QByteArray& bytes) {
    ISC_QUAD id{};
    IBlob* blob = attachment->createBlob(st, transaction, &id, 0, nullptr);
    try {
        for (qsizetype at = 0; at < bytes.size(); at += kBlobChunk) {
            const unsigned n = unsigned(std::min<qsizetype>(kBlobChunk, bytes.size() - at));
            blob->putSegment(st, n, bytes.constData() + at);
        }
        blob->close(st);
    } catch (...) {
        blob->release();
        throw;
    }
    return id;
}

}  // namespace norvix::fb
