#include "scanner/attachment_inspection.h"

namespace zentry {

// Placeholder until archive listing and content kinds land: finds nothing.
void inspectAttachment(const std::string&, const unsigned char*, std::size_t, bool,
                       InspectionBudget&, InspectionSink&) {}

}  // namespace zentry
