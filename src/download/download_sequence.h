#pragma once

namespace quillon {

class InstrumentLink;
class DownloadHost;

enum class DownloadEnd {
    Finished,    // reached the clean-up: link closed, directory restored, "Leaving OPEN"
    Terminated,  // the application began to close during the transfer
};

// File > Open: chooses a firmware image and downloads it into the instrument's flash.
DownloadEnd download_firmware(InstrumentLink& link, DownloadHost& host);

}  // namespace quillon
