#pragma once

// A row of a code table: the text shown in a field and the code it stands for.
// A row with a null text ends a table.
template <class Code, class Text>
struct STRING_CODE {
    Text text;
    Code code;
};
