export default class RigExtension extends Extension {
    enable() {
        this._rig = new Rig();
        this._rig.enable();
    }

    disable() {
        this._rig?.disable();
        this._rig = null;
    }
}
