# What `cmake --install` puts in place: the program, its menu entry, its icons and the metadata
# that software centres list it by. scripts/package makes the Debian package from this.
# The PNG icons are the SVG rendered at each size (rsvg-convert -w N -h N data/brevgluggen.svg).
include(GNUInstallDirs)
install(TARGETS brevgluggen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/brevgluggen.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/brevgluggen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/io.github.brevgluggen.Brevgluggen.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(icon_theme ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES data/brevgluggen.svg DESTINATION ${icon_theme}/scalable/apps)
foreach(size 16 32 48)
  install(FILES data/icons/brevgluggen-${size}.png
          DESTINATION ${icon_theme}/${size}x${size}/apps RENAME brevgluggen.png)
endforeach()
