// The one process-wide binding to the platform's socket library: started on
// the first socket call, released when the last socket object is destroyed.
#pragma once

namespace telorus::socket {

// Starts the library if it is not started yet; raises ESocketException with
// the library's startup message if it cannot be started.
void EnsureSocketLibrary();

// Whether the library is currently started.
bool SocketLibraryLoaded();

// Live socket objects. Construction increments; destruction decrements and,
// when the count falls below 1, releases the library.
void AddSocketInstance();
void RemoveSocketInstance();
int SocketInstanceCount();

// Releases the library and sets the count to 0.
void UnloadSocketLibrary();

}  // namespace telorus::socket
