#include <QCryptographicHash>
#include <cstring>

#include "platform/foundation/CommonDigest.h"

unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(len)),
        QCryptographicHash::Sha256);
    std::memcpy(md, digest.constData(), CC_SHA256_DIGEST_LENGTH);
    return md;
}
