#include "platform/Trace.h"

std::ostream& oops(std::ostream& stream) {
    return TraceManip(stream, 1, true);
}
std::ostream& trace(std::ostream& stream) {
    return TraceManip(stream, 2, true);
}
std::ostream& verbose(std::ostream& stream) {
    return TraceManip(stream, 3, true);
}
