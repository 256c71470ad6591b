// The "$" tokens of message texts and the values they stand for.
#pragma once

// Message texts are at most this many characters (81-byte buffers).
constexpr int SUBST_TEXT_MAX = 80;
// A trace line in the status buffer (162 bytes) is searched this far.
constexpr int SUBST_TRACE_MAX = 161;

// Replaces the first occurrence of the two-character token in text (a buffer
// of 81 bytes; only its first searchMax characters are looked at, so that a
// host's unterminated 81-byte text is never read past) by value, keeping at
// most 80 characters. 0 replaced, 1 token absent or no working memory.
int _SubstituteToken(char *text, const char *token, const char *value,
                     int searchMax = SUBST_TEXT_MAX);

// Stores the value of a token of the table, cut to fit its field; unknown
// tokens are ignored. A null value empties the field.
void _SubstituteSetValue(const char *token, const char *value);
// The current value of a token of the table ("" for unknown tokens).
const char *_SubstituteValue(const char *token);
// Empties every field.
void _SubstituteClearAll();

// Applies every token of the table once, in the table's order, to the
// 81-byte buffer. The result is that of the last token, "$W".
int _SubstituteAll(char *text, int searchMax = SUBST_TEXT_MAX);
