// ZMODEM behind the transfer seam: the engine (zmodem.h) with its hooks
// tied to a TransferHost (host.h), the upload batch the engine asks for one
// file at a time, the Alt+D note, and the file-exists question as a mode of
// the host's loop.  It knows the session only through the host record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/host.h"
#include "transfer/protocol.h"
#include "transfer/zmodem.h"

// The files of a ZMODEM upload after the first, offered one by one as the
// receiver takes each (the engine's next_upload hook).
struct UploadQueue {
  std::vector<std::string> paths;  // full paths, the first one included
  std::vector<uint64_t> sizes;     // their sizes when picked
  size_t next;                     // the next to offer
};

struct ZmodemProtocol {
  const TransferHost* host;
  ZmodemState zmodem;         // the engine, its start detection included
  UploadQueue* upload_queue;  // an upload's further files
};

// Binds a zeroed record to its host and installs the engine's hooks.  A
// tool that answers the file-exists question or picks the upload itself
// replaces those hooks afterwards.
void zmodem_protocol_init(ZmodemProtocol* zp, const TransferHost* host);

// The protocol's row in a session's table (ctx: zp).
TransferProtocol zmodem_protocol(ZmodemProtocol* zp);

// Lets the user pick files from the upload directory (Space marks several)
// and starts sending them, one after another: 0 when started or when
// nothing was picked, -1 on failure.  A file whose path does not fit ends
// as a missing one does ("Upload file not found", shown in the box).
int zmodem_protocol_start_upload(ZmodemProtocol* zp);

// The text of Alt+D, Z-Modem: nothing starts, the BBS's sender does.
inline constexpr const char* kZmodemWaitNote =
    "Waiting for the BBS to send; start the download there.";

// After every ending that sent the cancel sequence (Escape, a failure), the
// data still under way and the BBS's echo of the sequence are dropped for
// this long rather than shown as text or taken for another transfer.
inline constexpr uint32_t kCancelQuietMs = 2000;

// Sends of a transfer wait for a slow peer at most this long.
inline constexpr uint32_t kTransferSendStallMs = 30000;
