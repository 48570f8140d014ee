// What tests and benchmarks look at inside the platform stand-ins, and how they place the main
// bundle: none of this is in the shipped program.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/security/CallObserver.h"

// How many registry handles (master ports, matching dictionaries, iterators, registry objects,
// connections) this process still holds: proves that nothing leaks.
size_t IORegistryHandlesHeld();
// How many times this process released a registry object it did not hold (a double release).
size_t IORegistryStrayReleases();

// What this process asked of the authorization service since the journal was last cleared, in
// order. The journal records from the first call of either function on.
const std::vector<AuthorizationCall>& AuthorizationCallJournal();
void AuthorizationClearCallJournal();

// Makes the bundle at `path` the main bundle of this (test) program.
void UseMainBundleAt(const std::string& path);
