// Image channel speed: encoding an answer image and decoding a 1 MiB
// assembled request, each as a ratio against zlib's own uncompress of the
// same bytes measured in the same run (so the figures travel between
// machines).
#include "ImageUtil.h"
#include "PacketAssembly.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Median over batches of the time per call, in microseconds.
double microsPerCall(const std::function<void()>& work, int iCallsPerBatch, int iBatches = 7) {
    std::vector<double> batches;
    for (int b = 0; b < iBatches; ++b) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < iCallsPerBatch; ++i) work();
        batches.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0 / iCallsPerBatch);
    }
    std::sort(batches.begin(), batches.end());
    return batches[batches.size() / 2];
}

QByteArray compress(const QByteArray& data) {
    uLongf ulSize = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<int>(ulSize), '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &ulSize, reinterpret_cast<const Bytef*>(data.constData()),
              static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
    out.resize(static_cast<int>(ulSize));
    return out;
}

// zlib's own uncompress of the compressed form of `plain`.
double zlibReference(const QByteArray& plain, int iCalls) {
    const QByteArray z = compress(plain);
    QByteArray out(plain.size(), '\0');
    volatile int iSink = 0;
    return microsPerCall(
        [&]() {
            uLongf ulOut = static_cast<uLongf>(out.size());
            uncompress(reinterpret_cast<Bytef*>(out.data()), &ulOut, reinterpret_cast<const Bytef*>(z.constData()),
                       static_cast<uLong>(z.size()));
            iSink = iSink + static_cast<int>(ulOut);
        },
        iCalls);
}

QByteArray packetOf(const QByteArray& json) {
    const QByteArray z = compress(json);
    QByteArray decimal;
    decimal.reserve(z.size() * 4);
    for (int i = 0; i < z.size(); ++i) {
        if (i > 0) decimal.append(',');
        decimal.append(QByteArray::number(static_cast<uchar>(z[i])));
    }
    return decimal.toBase64();
}

void report(const char* szWhat, double dUs, const char* szReference, double dReferenceUs) {
    std::printf("%-58s %10.2f us   %-40s %10.2f us   ratio %6.2f\n", szWhat, dUs, szReference, dReferenceUs,
                dUs / dReferenceUs);
}

}  // namespace

int main() {
    QTemporaryDir dir;  // res.bmp is written here
    QDir::setCurrent(dir.path());

    // An answer of the usual size, and a large one.
    const QByteArray answer =
        R"({"errorCode":0,"errorModule":0,"localServiceVersion":"1.0.3","sequence":"12","uuid":"{6f1c0e52-8d2b-4c1e-9a57-0d7cf2a1b3e4}"})";
    QByteArray large;
    while (large.size() < 64 * 1024) large += answer;
    const QByteArray largeAnswer = large;

    volatile int iSink = 0;
    for (const QByteArray* pText : {&answer, &largeAnswer}) {
        const int iCalls = pText->size() < 1024 ? 20000 : 500;
        const double dBuild =
            microsPerCall([&]() { iSink = iSink + ImageUtil::buildImgData(pText->constData()).size(); }, iCalls);
        const double dEncode =
            microsPerCall([&]() { iSink = iSink + ImageUtil::encodeImage(pText->constData()).size(); }, iCalls);
        const double dRef = zlibReference(*pText, iCalls);
        char szWhat[128];
        std::snprintf(szWhat, sizeof szWhat, "answer image, %d-byte text, with res.bmp copy", pText->size());
        report(szWhat, dBuild, "zlib uncompress of the same text", dRef);
        std::snprintf(szWhat, sizeof szWhat, "answer image, %d-byte text, in memory only", pText->size());
        report(szWhat, dEncode, "zlib uncompress of the same text", dRef);
    }

    // A request whose assembled packet is 1 MiB: JSON with hex noise, so
    // that it compresses about as well as real parameters do.
    QByteArray json = R"({"cmd":"window.getLocalServiceVersion","sequence":"1","uuid":"u","pad":[)";
    QByteArray packet;
    for (;;) {
        for (int i = 0; i < 512; ++i) {
            json += "\"" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "\",";
        }
        packet = packetOf(json + "\"\"]}");
        if (packet.size() >= 1024 * 1024) break;
    }
    json += "\"\"]}";
    const QString strPacket = QString::fromLatin1(packet);
    if (ImageUtil::getImgData(strPacket).toUtf8() != json) {
        std::fprintf(stderr, "decoding gave something else\n");
        return 1;
    }
    const double dDecode = microsPerCall([&]() { iSink = iSink + ImageUtil::getImgData(strPacket).size(); }, 5);
    const double dRef = zlibReference(json, 5);
    char szWhat[128];
    std::snprintf(szWhat, sizeof szWhat, "decode %d-char packet (%d-byte JSON)", packet.size(), json.size());
    report(szWhat, dDecode, "zlib uncompress of the same JSON", dRef);

    // Assembling the same packet from 1500-character pieces.
    const int iPiece = 1500;
    const double dAssemble = microsPerCall(
        [&]() {
            int iAt = 0;
            for (; iAt + iPiece < strPacket.size(); iAt += iPiece)
                PacketAssembly::appendPiece(QStringLiteral("bench"), strPacket.mid(iAt, iPiece));
            iSink = iSink + PacketAssembly::takePacket(QStringLiteral("bench"), strPacket.mid(iAt)).size();
        },
        5);
    report("assemble it from 1500-character pieces", dAssemble, "zlib uncompress of the same JSON", dRef);
    return 0;
}
