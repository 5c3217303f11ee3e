#pragma once
// What the process holds right now: open descriptors (handles on Windows) and threads.
// Tests compare the counts before and after a run to find leaks.

int TransportOpenDescriptorCount();
int TransportThreadCount();
