#pragma once
// The answers to the requests of readers: records, documents, the XML reports and progress.
#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "progress.hpp"

namespace morvi::service::server {

// The result of the request `request` names ("get_trialkit", "get_section", "document",
// "write_xml", "progress") in the typed encoding. ProtocolError for an unknown request or
// bad arguments; the writers' own errors reach the caller.
protocol::Json answer(const protocol::Json& request, const protocol::TreeBuilder& builder,
                      const Progress& progress, bool runner);

}  // namespace morvi::service::server
