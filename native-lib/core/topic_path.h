// Text routines for topic paths ("/"-separated segments). The topic bus
// (topic_bus.h) normalises and splits every topic before it takes its lock.
#pragma once

#include <string>
#include <vector>

// Remove leading / trailing white space (C locale isspace, bytes taken unsigned).
void ltrim(std::string& text);
void rtrim(std::string& text);
void trim(std::string& text);

// Trims white space, then drops every trailing "/" unless the text is exactly "/"
// (a text of slashes only becomes empty). Works in place; returns `text`.
std::string& normalizeTopic(std::string& text);

// Appends the pieces of `text` between occurrences of `delimiter` to `out`.
// Empty pieces are kept (a leading one too), but a text ending in the delimiter
// yields no final empty piece and an empty text yields nothing. An empty
// delimiter yields the whole text as one piece.
void split(const std::string& text, std::vector<std::string>& out, const std::string& delimiter);
