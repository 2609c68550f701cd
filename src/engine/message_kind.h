#pragma once
// The kinds of message the download queue reports: its connections' status lines (with the
// connection's own kinds) and its own state and messages.
#include "net/connection_codes.h"

namespace qm::engine {

enum class MessageKind {
    Connection = 0,  // the kinds of a connection's status line, as net::StatusKind
    Progress = 1,
    TransactionEnd = 2,
    ProtocolText = 3,
    QueueState = 101,  // queue state texts
    Analysis = 102,    // messages of the analysis and the queue
};

inline MessageKind MessageKindOf(net::StatusKind kind) { return static_cast<MessageKind>(static_cast<int>(kind)); }

inline bool IsConnectionStatus(MessageKind kind) {
    return kind == MessageKind::Connection || kind == MessageKind::Progress || kind == MessageKind::TransactionEnd ||
           kind == MessageKind::ProtocolText;
}

}  // namespace qm::engine
