#include "tests/testsupport/RecordingHost.h"

namespace ruvo::testsupport {

void RecordingHost::Clear() {
    Errors.clear();
    Messages.clear();
    ProcessEventsCalls = 0;
}

}  // namespace ruvo::testsupport
