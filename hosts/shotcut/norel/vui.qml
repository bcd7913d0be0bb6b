// The rectangle on the player: dragged and resized there, as Shotcut's own
// rectangle filters are.
import Shotcut.Controls 1.0 as Shotcut

Shotcut.TextFilterVui {
    rectProperty: 'rect'
}
