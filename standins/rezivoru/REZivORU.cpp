// Stand-in for the network library: the "cloud" is a device reached directly
// over loopback. Device requests are plain HTTP/1.1; a voice talk is a TCP
// connection opened with the line "TALK <serial>" and answered with "OK" or
// "ERR <n>", and then held open until either side closes it. Every call is
// synchronous and bounded by the time-out.
#include "REZivORU.h"
#include "REZivORU_test.h"

#include <http_parser.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int kDefaultTimeoutMs = 5000;

thread_local int32_t t_iLastError = ZBNET_ERR_NONE;

bool fail(int32_t iError) {
    t_iLastError = iError;
    return false;
}

using Clock = std::chrono::steady_clock;

// One open talk and the thread that watches it.
struct Talk {
    int32_t hTalk = -1;
    int iSocket = -1;
    ZBNetVoiceTalkCallback pfnCallback = nullptr;
    void* pUser = nullptr;
    std::atomic<bool> bStopping{false};
    std::thread watcher;
};

struct Library {
    std::mutex mutex;
    std::string strAccessKey;
    std::string strSecretKey;
    bool bInitialized = false;
    std::string strHost;
    std::string strPort;
    std::map<int32_t, std::unique_ptr<Talk>> talks;

    std::atomic<int32_t> iNextHandle{0};
    std::atomic<int> iTimeoutMs{kDefaultTimeoutMs};

    std::atomic<int> iInitCount{0};
    std::atomic<int> iFiniCount{0};
    std::atomic<int> iStopCount{0};
    std::string strLastConfigAddress;

    ~Library();
};

Library& library() {
    static Library instance;
    return instance;
}

// Ends a talk that is already out of the table: wakes its watcher, waits for
// it (unless called from the watcher itself) and closes the socket.
void closeTalk(std::unique_ptr<Talk> talk) {
    talk->bStopping.store(true);
    ::shutdown(talk->iSocket, SHUT_RDWR);
    if (talk->watcher.joinable()) {
        if (talk->watcher.get_id() == std::this_thread::get_id())
            talk->watcher.detach();
        else
            talk->watcher.join();
    }
    ::close(talk->iSocket);
}

void closeAllTalks(Library& lib) {
    std::map<int32_t, std::unique_ptr<Talk>> talks;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        talks.swap(lib.talks);
    }
    for (auto& entry : talks) closeTalk(std::move(entry.second));
}

Library::~Library() {
    closeAllTalks(*this);
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Connects to host:port before the deadline. Returns the socket (blocking
// mode off) or -1 with the thread's error set.
int connectTo(const std::string& strHost, const std::string& strPort, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResults = nullptr;
    if (::getaddrinfo(strHost.c_str(), strPort.c_str(), &hints, &pResults) != 0 || !pResults) {
        fail(ZBNET_ERR_CONNECT);
        return -1;
    }
    int32_t iError = ZBNET_ERR_CONNECT;
    int iSocket = -1;
    for (addrinfo* pEntry = pResults; pEntry && iSocket < 0; pEntry = pEntry->ai_next) {
        const int iCandidate = ::socket(pEntry->ai_family, pEntry->ai_socktype | SOCK_CLOEXEC, pEntry->ai_protocol);
        if (iCandidate < 0) continue;
        ::fcntl(iCandidate, F_SETFL, ::fcntl(iCandidate, F_GETFL) | O_NONBLOCK);
        int iResult = ::connect(iCandidate, pEntry->ai_addr, pEntry->ai_addrlen);
        if (iResult != 0 && errno == EINPROGRESS) {
            pollfd waiter{iCandidate, POLLOUT, 0};
            iResult = ::poll(&waiter, 1, remainingMs(deadline));
            if (iResult == 0) {
                iError = ZBNET_ERR_TIMEOUT;
                ::close(iCandidate);
                continue;
            }
            int iSocketError = 0;
            socklen_t nLength = sizeof(iSocketError);
            ::getsockopt(iCandidate, SOL_SOCKET, SO_ERROR, &iSocketError, &nLength);
            iResult = (iResult > 0 && iSocketError == 0) ? 0 : -1;
        }
        if (iResult == 0)
            iSocket = iCandidate;
        else
            ::close(iCandidate);
    }
    ::freeaddrinfo(pResults);
    if (iSocket < 0) fail(iError);
    return iSocket;
}

bool sendAll(int iSocket, const std::string& strData, Clock::time_point deadline) {
    size_t nSent = 0;
    while (nSent < strData.size()) {
        const ssize_t n = ::send(iSocket, strData.data() + nSent, strData.size() - nSent, MSG_NOSIGNAL);
        if (n > 0) {
            nSent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd waiter{iSocket, POLLOUT, 0};
            if (::poll(&waiter, 1, remainingMs(deadline)) == 0) return fail(ZBNET_ERR_TIMEOUT);
            continue;
        }
        return fail(ZBNET_ERR_READ);
    }
    return true;
}

// Reads what is there, waiting until the deadline. Returns the byte count,
// 0 at the end of the stream, -1 with the thread's error set.
ssize_t receiveSome(int iSocket, char* pBuffer, size_t nSize, Clock::time_point deadline) {
    for (;;) {
        const ssize_t n = ::recv(iSocket, pBuffer, nSize, 0);
        if (n >= 0) return n;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            fail(ZBNET_ERR_READ);
            return -1;
        }
        pollfd waiter{iSocket, POLLIN, 0};
        if (::poll(&waiter, 1, remainingMs(deadline)) == 0) {
            fail(ZBNET_ERR_TIMEOUT);
            return -1;
        }
    }
}

// The parts of a device's HTTP answer that matter here.
struct HttpAnswer {
    unsigned iStatus = 0;
    std::string strBody;
    std::string strLibraryError;
    std::string strField;
    bool bLastWasValue = false;
    bool bComplete = false;
};

int onHeaderField(http_parser* pParser, const char* pAt, size_t nLength) {
    auto* pAnswer = static_cast<HttpAnswer*>(pParser->data);
    if (pAnswer->bLastWasValue) pAnswer->strField.clear();
    pAnswer->strField.append(pAt, nLength);
    pAnswer->bLastWasValue = false;
    return 0;
}

int onHeaderValue(http_parser* pParser, const char* pAt, size_t nLength) {
    auto* pAnswer = static_cast<HttpAnswer*>(pParser->data);
    pAnswer->bLastWasValue = true;
    if (::strcasecmp(pAnswer->strField.c_str(), "X-Library-Error") == 0) pAnswer->strLibraryError.append(pAt, nLength);
    return 0;
}

int onBody(http_parser* pParser, const char* pAt, size_t nLength) {
    static_cast<HttpAnswer*>(pParser->data)->strBody.append(pAt, nLength);
    return 0;
}

int onMessageComplete(http_parser* pParser) {
    auto* pAnswer = static_cast<HttpAnswer*>(pParser->data);
    pAnswer->iStatus = pParser->status_code;
    pAnswer->bComplete = true;
    return 0;
}

bool parseAddress(const char* szText, std::string& strHost, std::string& strPort) {
    const std::string strAddress(szText);
    const size_t nColon = strAddress.rfind(':');
    if (nColon == std::string::npos || nColon == 0 || nColon + 1 == strAddress.size()) return false;
    const std::string strHostPart = strAddress.substr(0, nColon);
    const std::string strPortPart = strAddress.substr(nColon + 1);
    for (char c : strHostPart)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\x7f') return false;
    long iPort = 0;
    for (char c : strPortPart) {
        if (c < '0' || c > '9') return false;
        iPort = iPort * 10 + (c - '0');
        if (iPort > 65535) return false;
    }
    if (iPort < 1) return false;
    strHost = strHostPart;
    strPort = std::to_string(iPort);
    return true;
}

// What a device call needs: the address and the keys. Fails with error 8
// before a successful ZBNet_Init, with error 9 without an address.
struct Session {
    std::string strHost;
    std::string strPort;
    std::string strAccessKey;
    std::string strSecretKey;
};

bool currentSession(Session& session) {
    Library& lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    if (!lib.bInitialized) return fail(ZBNET_ERR_INIT);
    if (lib.strHost.empty()) return fail(ZBNET_ERR_LOCAL_CONFIG);
    session = Session{lib.strHost, lib.strPort, lib.strAccessKey, lib.strSecretKey};
    return true;
}

// The access key as it travels: bytes outside printable ASCII, blanks and
// "%" percent-encoded, so that no key can break a header or the talk line.
std::string encodedKey(const std::string& strKey) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strEncoded;
    for (unsigned char c : strKey) {
        if (c > 0x20 && c < 0x7f && c != '%') {
            strEncoded.push_back(static_cast<char>(c));
        } else {
            strEncoded.push_back('%');
            strEncoded.push_back(kHex[c >> 4]);
            strEncoded.push_back(kHex[c & 15]);
        }
    }
    return strEncoded;
}

// Lowercase hex of HMAC-SHA-256 over strText keyed with the secret key.
std::string signature(const std::string& strSecretKey, const std::string& strText) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nDigest = 0;
    HMAC(EVP_sha256(), strSecretKey.data(), static_cast<int>(strSecretKey.size()),
         reinterpret_cast<const unsigned char*>(strText.data()), strText.size(), digest, &nDigest);
    static const char kHex[] = "0123456789abcdef";
    std::string strHex;
    for (unsigned int i = 0; i < nDigest; ++i) {
        strHex.push_back(kHex[digest[i] >> 4]);
        strHex.push_back(kHex[digest[i] & 15]);
    }
    return strHex;
}

bool isHeaderSafe(const char* szText) {
    for (; *szText; ++szText)
        if (*szText == '\r' || *szText == '\n') return false;
    return true;
}

void watchTalk(Talk* pTalk) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(pTalk->iSocket, buffer, sizeof(buffer), 0);
        if (n > 0) continue;  // talk data is not played by the stand-in
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiter{pTalk->iSocket, POLLIN, 0};
            ::poll(&waiter, 1, -1);
            continue;
        }
        if (pTalk->bStopping.load()) return;
        if (pTalk->pfnCallback)
            pTalk->pfnCallback(pTalk->hTalk, n == 0 ? ZBNET_TALK_MSG_CLOSED : ZBNET_TALK_MSG_READ_ERROR, pTalk->pUser);
        return;
    }
}

}  // namespace

extern "C" {

bool ZBNet_Init(const char* szAccessKey, const char* szSecretKey) {
    Library& lib = library();
    lib.iInitCount.fetch_add(1);
    if (!szAccessKey || !szSecretKey || !*szAccessKey || !*szSecretKey) return fail(ZBNET_ERR_INIT);
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.strAccessKey = szAccessKey;
    lib.strSecretKey = szSecretKey;
    lib.bInitialized = true;
    return true;
}

void ZBNet_Fini(void) {
    Library& lib = library();
    lib.iFiniCount.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        lib.strAccessKey.clear();
        lib.strSecretKey.clear();
        lib.bInitialized = false;
        lib.strHost.clear();
        lib.strPort.clear();
    }
    closeAllTalks(lib);
}

bool ZBNet_SetLocalConfig(int32_t iType, const ZBNetLocalConfig* pConfig) {
    if (iType != 0 || !pConfig) return fail(ZBNET_ERR_PARAMETER);
    const std::string strAddress(pConfig->szAddress, ::strnlen(pConfig->szAddress, sizeof(pConfig->szAddress)));
    Library& lib = library();
    std::string strHost, strPort;
    const bool bValid = parseAddress(strAddress.c_str(), strHost, strPort);
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.strLastConfigAddress = strAddress;
    if (!bValid) return fail(ZBNET_ERR_LOCAL_CONFIG);
    lib.strHost = strHost;
    lib.strPort = strPort;
    return true;
}

bool ZBNet_CmdWI(const char* szDeviceSerial, const char* szPath, const char* szMethod, const char* szBody, char** ppBuf,
                 int32_t* piLen) {
    if (!szDeviceSerial || !szPath || !szMethod || !ppBuf || !piLen || !*szMethod || szPath[0] != '/' ||
        !isHeaderSafe(szDeviceSerial) || !isHeaderSafe(szPath) || !isHeaderSafe(szMethod) ||
        std::strchr(szMethod, ' ') || std::strchr(szPath, ' '))
        return fail(ZBNET_ERR_PARAMETER);
    *ppBuf = nullptr;
    *piLen = 0;

    Session session;
    if (!currentSession(session)) return false;

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(library().iTimeoutMs.load());
    const int iSocket = connectTo(session.strHost, session.strPort, deadline);
    if (iSocket < 0) return false;

    const std::string strBody = szBody ? szBody : "";
    std::string strRequest = std::string(szMethod) + " " + szPath + " HTTP/1.1\r\n";
    strRequest += "Host: " + session.strHost + ":" + session.strPort + "\r\n";
    strRequest += "X-Device-Serial: " + std::string(szDeviceSerial) + "\r\n";
    strRequest += "X-Access-Key: " + encodedKey(session.strAccessKey) + "\r\n";
    strRequest +=
        "X-Signature: " + signature(session.strSecretKey, std::string(szMethod) + " " + szPath + "\n" + strBody) +
        "\r\n";
    strRequest += "Content-Type: application/json\r\n";
    strRequest += "Content-Length: " + std::to_string(strBody.size()) + "\r\n";
    strRequest += "Connection: close\r\n\r\n";
    strRequest += strBody;

    if (!sendAll(iSocket, strRequest, deadline)) {
        ::close(iSocket);
        return false;
    }

    http_parser_settings settings;
    http_parser_settings_init(&settings);
    settings.on_header_field = onHeaderField;
    settings.on_header_value = onHeaderValue;
    settings.on_body = onBody;
    settings.on_message_complete = onMessageComplete;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    HttpAnswer answer;
    parser.data = &answer;

    char buffer[4096];
    while (!answer.bComplete) {
        const ssize_t n = receiveSome(iSocket, buffer, sizeof(buffer), deadline);
        if (n < 0) {
            ::close(iSocket);
            return false;
        }
        const size_t nParsed = http_parser_execute(&parser, &settings, buffer, static_cast<size_t>(n));
        if (HTTP_PARSER_ERRNO(&parser) != HPE_OK || (n > 0 && nParsed != static_cast<size_t>(n))) {
            ::close(iSocket);
            return fail(ZBNET_ERR_PROTOCOL);
        }
        if (n == 0 && !answer.bComplete) {
            ::close(iSocket);
            return fail(ZBNET_ERR_READ);
        }
    }
    ::close(iSocket);

    if (answer.iStatus != 200) {
        char* pEnd = nullptr;
        const long iDeviceError = std::strtol(answer.strLibraryError.c_str(), &pEnd, 10);
        const bool bHasNumber = !answer.strLibraryError.empty() && pEnd && *pEnd == '\0' && iDeviceError >= INT32_MIN &&
                                iDeviceError <= INT32_MAX;
        return fail(bHasNumber ? static_cast<int32_t>(iDeviceError) : ZBNET_ERR_DEVICE_STATUS);
    }
    if (answer.strBody.size() > static_cast<size_t>(INT32_MAX)) return fail(ZBNET_ERR_PROTOCOL);

    char* pBuffer = static_cast<char*>(std::malloc(answer.strBody.size() + 1));
    if (!pBuffer) return fail(ZBNET_ERR_READ);
    std::memcpy(pBuffer, answer.strBody.data(), answer.strBody.size());
    pBuffer[answer.strBody.size()] = '\0';
    *ppBuf = pBuffer;
    *piLen = static_cast<int32_t>(answer.strBody.size());
    t_iLastError = ZBNET_ERR_NONE;
    return true;
}

void ZBNet_FreeBuf(char* pBuf) {
    std::free(pBuf);
}

int32_t ZBNet_StartVoiceTalk(const char* szDeviceSerial, const ZBNetVoiceTalkParam* pParam, void* pUser) {
    if (!szDeviceSerial || !pParam || !isHeaderSafe(szDeviceSerial)) {
        fail(ZBNET_ERR_PARAMETER);
        return -1;
    }
    Session session;
    if (!currentSession(session)) return -1;

    Library& lib = library();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lib.iTimeoutMs.load());
    const int iSocket = connectTo(session.strHost, session.strPort, deadline);
    if (iSocket < 0) return -1;
    const std::string strTalk = "TALK " + std::string(szDeviceSerial);
    if (!sendAll(
            iSocket,
            strTalk + " " + encodedKey(session.strAccessKey) + " " + signature(session.strSecretKey, strTalk) + "\n",
            deadline)) {
        ::close(iSocket);
        return -1;
    }

    // Read exactly one line, byte by byte, so nothing after it is consumed.
    std::string strLine;
    for (;;) {
        char c = 0;
        const ssize_t n = receiveSome(iSocket, &c, 1, deadline);
        if (n < 0) {
            ::close(iSocket);
            return -1;
        }
        if (n == 0) {
            ::close(iSocket);
            fail(ZBNET_ERR_READ);
            return -1;
        }
        if (c == '\n') break;
        strLine.push_back(c);
        if (strLine.size() > 256) {
            ::close(iSocket);
            fail(ZBNET_ERR_PROTOCOL);
            return -1;
        }
    }
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();

    if (strLine.compare(0, 4, "ERR ") == 0) {
        ::close(iSocket);
        char* pEnd = nullptr;
        const long iError = std::strtol(strLine.c_str() + 4, &pEnd, 10);
        const bool bNumber =
            pEnd && pEnd != strLine.c_str() + 4 && *pEnd == '\0' && iError >= INT32_MIN && iError <= INT32_MAX;
        fail(bNumber ? static_cast<int32_t>(iError) : ZBNET_ERR_PROTOCOL);
        return -1;
    }
    if (strLine != "OK") {
        ::close(iSocket);
        fail(ZBNET_ERR_PROTOCOL);
        return -1;
    }

    auto talk = std::make_unique<Talk>();
    talk->hTalk = lib.iNextHandle.fetch_add(1);
    talk->iSocket = iSocket;
    talk->pfnCallback = pParam->pfnCallback;
    talk->pUser = pUser;
    Talk* pTalk = talk.get();
    const int32_t hTalk = talk->hTalk;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        pTalk->watcher = std::thread(watchTalk, pTalk);
        lib.talks.emplace(hTalk, std::move(talk));
    }
    t_iLastError = ZBNET_ERR_NONE;
    return hTalk;
}

bool ZBNet_StopVoiceTalk(int32_t hTalk) {
    Library& lib = library();
    lib.iStopCount.fetch_add(1);
    std::unique_ptr<Talk> talk;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        auto it = lib.talks.find(hTalk);
        if (it == lib.talks.end()) return fail(ZBNET_ERR_PARAMETER);
        talk = std::move(it->second);
        lib.talks.erase(it);
    }
    closeTalk(std::move(talk));
    t_iLastError = ZBNET_ERR_NONE;
    return true;
}

int32_t ZBNet_GetLastError(void) {
    return t_iLastError;
}

}  // extern "C"

void ZBNetTest_SetTimeoutMs(int iTimeoutMs) {
    library().iTimeoutMs.store(iTimeoutMs > 0 ? iTimeoutMs : kDefaultTimeoutMs);
}

int ZBNetTest_InitCount() {
    return library().iInitCount.load();
}

int ZBNetTest_FiniCount() {
    return library().iFiniCount.load();
}

int ZBNetTest_StopVoiceTalkCount() {
    return library().iStopCount.load();
}

bool ZBNetTest_IsInitialized() {
    Library& lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    return lib.bInitialized;
}

std::string ZBNetTest_LastConfigAddress() {
    Library& lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    return lib.strLastConfigAddress;
}

int ZBNetTest_OpenTalkCount() {
    Library& lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    return static_cast<int>(lib.talks.size());
}

void ZBNetTest_Reset() {
    ZBNet_Fini();
    Library& lib = library();
    lib.iInitCount.store(0);
    lib.iFiniCount.store(0);
    lib.iStopCount.store(0);
    lib.iTimeoutMs.store(kDefaultTimeoutMs);
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.strLastConfigAddress.clear();
}
