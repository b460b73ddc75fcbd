#pragma once

#include <QByteArray>

namespace regbench::tests {

// A small map whose tabs exercise the panels: three registers, six, and one with an empty name.
inline QByteArray testMap() {
    return QByteArrayLiteral(
        "TITLEBAR,Bench under test\r\nTITLE,Test chip T-1\r\nTABNAME,Main\r\n"
        "REG,5,ALPHA\r\nBITS,A7,A6,A5,A4,A3,A2,A1,A0\r\nREG,16,BETA\r\nREG,&H3A,GAMMA\r\n"
        "TABNAME,Full\r\nREG,0,ID\r\nREG,10,TEN\r\nREG,255,LAST\r\nREG,5,ALPHA\r\n"
        "REG,32,R20\r\nREG,33,R21\r\nTABNAME,Unnamed\r\nREG,64,\r\n");
}

} // namespace regbench::tests
