#pragma once
// What the process holds right now, counted from /proc/self: open descriptors and threads.
// Tests compare the counts before and after a run to find leaks.

int TransportOpenDescriptorCount();
int TransportThreadCount();
