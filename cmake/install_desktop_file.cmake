# Run at install time: writes the desktop file through which KWin lets the installed vantrel
# use its fake input device. KWin matches Exec against the executable of the program that
# connects, so it names the installed path, which the prefix given at install time decides.
set(desktop "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/vantrel.desktop")
message(STATUS "Installing: ${desktop}")
file(WRITE "${desktop}"
  "[Desktop Entry]\n"
  "Type=Application\n"
  "Name=vantrel\n"
  "Comment=Drives the pointer and keyboard as a program asks\n"
  "Exec=${CMAKE_INSTALL_PREFIX}/${VANTREL_BINDIR}/vantrel\n"
  "NoDisplay=true\n"
  "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n")
