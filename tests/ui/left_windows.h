// What a test leaves on the screen: the top-level windows that still exist
// once deferred deletions have run.
#pragma once

#include <QString>

namespace kestrune::ui::test {

// The class and object names of the top-level widgets left, one a line;
// empty when there is none.
QString LeftTopLevelWindows();

}  // namespace kestrune::ui::test
