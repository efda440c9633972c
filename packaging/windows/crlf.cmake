# Copies a text file with "\r\n" line ends, for the Windows ZIP, where
# Notepad before Windows 10 shows "\n" alone as no line break at all:
#   cmake -DIN=FILE -DOUT=FILE -P crlf.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
