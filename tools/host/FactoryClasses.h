#pragma once

#include <ostream>
#include <string>

// Loads the module binary with dlopen, asks its factory for every class and prints the class
// IDs and categories exactly as the module reports them, without JUCE in between.
// Returns an ExitCode value.
int printFactoryClasses (const std::string& modulePath, std::ostream& out, std::ostream& err);
