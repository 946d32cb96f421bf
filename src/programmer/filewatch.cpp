#include "programmer/filewatch.h"

#include "platform/filetime.h"
#include "programmer/chipcatalogue.h"
#include "programmer/hostsession.h"

bool FileWatch::reloadIfChanged(bool mayReload) {
    if (state_.chosenPath.isEmpty()) return false;
    const QString stamp = platform::fileStamp(state_.chosenPath);
    if (stamp == state_.stamp) {
        previousLook_.reset();
        return false;
    }
    const Look look{stamp, platform::fileSignature(state_.chosenPath)};
    const bool settled = previousLook_ == look;

    previousLook_ = look;
    if (!settled || !mayReload) return false;

    const int capacity = session_.buffer().capacity();
    const LoadResult result = reloadFile(session_, state_, capacity);
    if (result.status == LoadStatus::Error) {
        if (reportedStamp_ != stamp) {
            session_.view().log(QStringLiteral("Open File Error !  Please Choose Again !  ") + result.error);
            reportedStamp_ = stamp;
        }
        return false;
    }
    session_.dispData(capacity);
    state_.stamp = stamp;
    if (result.status == LoadStatus::DoesNotFit) {
        // Programming the part that fits would end in a chip that verifies "OK" yet lacks the file's tail: say
        // why and start nothing.
        if (const ChipInfo* chip = chipAt(session_.chipIndex())) session_.view().log(sizeMessage(*chip));
        return false;
    }
    return true;
}
