# Writes the shipped settings file with the built-in voice as the speech
# server (SERVFALA/TIPOSAPI=3): used by data/CMakeLists.txt where the MBROLA
# voice is installed. Run as cmake -DIN=... -DOUT=... -P koral_settings.cmake.
file(READ ${IN} settings)
string(FIND "${settings}" "TIPOSAPI=5" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${IN} has no line TIPOSAPI=5 to make the built-in voice the default")
endif()
string(REPLACE "TIPOSAPI=5" "TIPOSAPI=3" settings "${settings}")
file(WRITE ${OUT} "${settings}")
