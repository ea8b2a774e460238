// The errors of in-page video, beside the video library's own (VcError.h),
// in the same answer form: {"errorCode", "errorModule": "video_control",
// "errorMessage"}.
#ifndef PAGESTREAM_PAGEERRORS_H
#define PAGESTREAM_PAGEERRORS_H

#include "VcError.h"

#include <QJsonObject>
#include <QString>

namespace pagestream {

#define PAGE_ERROR_TABLE(X)                                                                             \
    X(NotInPageMode, 3030, "not supported in page mode: the window has no native picture")          \
    X(StreamLimit, 3031, "too many in-page streams: stop one first")                                \
    X(StreamNotOpened, 3032, "the page did not open the stream's media connection in time")

enum class PageError {
#define PAGE_ERROR_ENUM(name, code, text) name = code,
    PAGE_ERROR_TABLE(PAGE_ERROR_ENUM)
#undef PAGE_ERROR_ENUM
};

// The answer keys of a code of either table; strDetail, when given,
// replaces the table's text.
QJsonObject errorObject(int iCode, const QString& strDetail = QString());
inline QJsonObject errorObject(PageError eError, const QString& strDetail = QString()) {
    return errorObject(static_cast<int>(eError), strDetail);
}
inline QJsonObject errorObject(vc::Error eError, const QString& strDetail = QString()) {
    return errorObject(static_cast<int>(eError), strDetail);
}

}  // namespace pagestream

#endif  // PAGESTREAM_PAGEERRORS_H
