// A C++ exception that nothing catches ends in std::terminate while the
// frames between the throw and the thread's start are still on the stack.
// The reporter's terminate handler finds the throwing function's frame there
// and hands the crash to the exception filter as if the throw had been a
// system exception raised at that place.
#pragma once

namespace brindlex {

void install_terminate_handler();
void uninstall_terminate_handler();

}  // namespace brindlex
