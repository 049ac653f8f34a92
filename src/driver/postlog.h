#pragma once

class Repository;

// The post-install log "/flash/postlog": the messages of install runs kept on
// flash, one message a line with its "WARNING: " or "ERROR: " prefix. An upgrade
// run that finds package files takes over the lines earlier runs left; every
// install run that ends with messages writes them out.

// Set once this run has taken the previous log over.
extern bool postlogConsumed;

// Appends the old log's whole lines to the message log and blanks the file (4096
// zero bytes) until the run writes it again.
void takeOverPostlog(Repository& repository);

// Writes the message log: the whole file when the old log was taken over, else
// appended (nothing at all for an empty log).
void writePostlog(const Repository& repository);
