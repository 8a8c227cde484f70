// The window tests build the same temporary installations as the core tests;
// the widget test program compiles only this folder, so the shared fixture is
// compiled into it here.
#include "config/config_fixture.cpp"
