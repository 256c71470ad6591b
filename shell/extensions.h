// The list of text-file extensions in the form the file store reads.
#pragma once

// Rewrites list in place: every run of separators (white space, commas,
// asterisks) becomes one space and A to Z become lower case.
void NormalizeExtensionList(char* list);
