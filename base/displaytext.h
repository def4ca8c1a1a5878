#pragma once

#include <QString>

// Text from the service as it is shown: without the characters that embed
// or override a writing direction (U+202A to U+202E) or isolate one (U+2066
// to U+2069). With them a name could show its letters in another order than
// they are in, "gnp.exe" as "exe.png". Letters of right-to-left scripts
// keep their natural direction, and so do the direction marks.
QString withoutDirectionControls(const QString &text);
