// Styles of the display (scene, mascots, banner, update box), the help panel and
// the display's tokens for night and day. They are added to the document's head when
// the script starts, after the page's own sheets, so the page shell stays free of
// them; the boot gate keeps the page hidden until the first render anyway.
(function () {
  'use strict';
  if (document.getElementById('displaySheet')) return;
  const sheet = document.createElement('style');
  sheet.id = 'displaySheet';
  sheet.textContent = `
:root {
  --scene-sky: #07090b; --scene-moon: #14181e; --scene-moon2: #07090b; --scene-sun: #efe1b0;
  --scene-crater: #0f1218; --scene-star: #2c333b; --scene-star2: #1e242c; --scene-shoot: #3a4350;
  --scene-far: #0d1016; --scene-mid: #111419; --scene-near: #0c0f13; --scene-ground: #171b20;
  --scene-fog: #171b22; --scene-fog2: #1a1f26; --scene-fog-a: .55; --scene-line: #0f1216;
  --scene-stone: #151a20; --scene-stone2: #1c2129; --scene-shadow: #050607; --scene-shadow-a: .7;
  --fire-ring: #232930; --fire-wood: #3a2a1e; --fire-wood2: #2d2118;
  --fire-a: #e0904a; --fire-b: #f2c46b; --fire-c: #c4502a;
}
body.white {
  --scene-sky: #e7eaee; --scene-moon: #f1ecda;
  --scene-far: #dde1e7; --scene-mid: #d3d8df; --scene-near: #cdd2da; --scene-ground: #bfc5ce;
  --scene-fog: #eef0f3; --scene-fog2: #e4e7ec; --scene-fog-a: .8; --scene-line: #c7ccd4;
  --scene-stone: #bcc3cc; --scene-stone2: #b3bac4; --scene-shadow: #9aa2ad; --scene-shadow-a: .6;
  --fire-ring: #b3bac4; --fire-wood: #a89a8c; --fire-wood2: #9a8c7e;
}
#display {
  position: relative; height: 124px; margin: 0 18px 14px; border: 1px solid var(--line2);
  border-radius: var(--radius); background: var(--scene-sky); overflow: hidden;
  box-shadow: inset 0 2px 8px rgba(0,0,0,.45);
}
body.white #display { box-shadow: inset 0 2px 8px rgba(35,42,60,.14); }
#display svg.scene { position: absolute; left: 0; top: 0; width: 100%; height: 100%; display: block; shape-rendering: crispEdges; }
.scene .sky { fill: var(--scene-sky); }
.scene .moon { fill: var(--scene-moon); }
.scene .moon2 { fill: var(--scene-moon2); }
.scene .sun { fill: var(--scene-sun); display: none; }
.scene .crater { fill: var(--scene-crater); }
.scene .star.s1 { fill: var(--scene-star); }
.scene .star.s2 { fill: var(--scene-star2); }
.scene .shoot { fill: var(--scene-shoot); opacity: 0; }
.scene .far { fill: var(--scene-far); }
.scene .mid { fill: var(--scene-mid); }
.scene .near { fill: var(--scene-near); }
.scene .fog { opacity: var(--scene-fog-a); }
.scene .fog.a { fill: var(--scene-fog); }
.scene .fog.b { fill: var(--scene-fog2); }
.scene .ground { fill: var(--scene-ground); }
.scene .gline { fill: var(--scene-line); }
.scene .stone.s1 { fill: var(--scene-stone); }
.scene .stone.s2 { fill: var(--scene-stone2); }
.scene .glow { fill: var(--fire-a); opacity: .16; }
.scene .ring { fill: var(--fire-ring); }
.scene .wood { fill: var(--fire-wood); }
.scene .wood2 { fill: var(--fire-wood2); }
.scene .fa { fill: var(--fire-a); }
.scene .fb { fill: var(--fire-b); }
.scene .fc { fill: var(--fire-c); }
.scene .flame { visibility: hidden; }
.scene .flame.f1 { visibility: visible; }
.scene .spark { fill: var(--fire-b); opacity: 0; }
.scene .ember { fill: #d9764a; display: none; }
.scene .smoke { display: none; opacity: 0; }
.scene .smoke.a rect { fill: var(--scene-fog2); }
.scene .smoke.b rect { fill: var(--scene-fog); }
body.white .scene .moon2, body.white .scene .crater, body.white .scene .star, body.white .scene .shoot,
body.white .scene .glow, body.white .scene .flame, body.white .scene .spark { display: none; }
body.white .scene .sun, body.white .scene .ember, body.white .scene .smoke { display: inline; }
/* Stars, fog and fire are stepped by the scene's clock in the page script. */

/* mascots */
#display .being {
  position: absolute; bottom: 14px; width: 44px; height: 44px; cursor: pointer; z-index: 3;
  transform-origin: 50% 100%; image-rendering: pixelated;
}
#display .being.mirror { transform: scaleX(-1); }
#display .being .bi { width: 100%; height: 100%; animation: sc-bob 1.1s steps(17) infinite; }
#display .being .bi svg, #display .being .bi img { display: block; width: 100%; height: 100%; image-rendering: pixelated; shape-rendering: crispEdges; pointer-events: none; }
#display .being.flyer { bottom: auto; width: 36px; height: 40px; }
#display .being.flyer .bi { animation: sc-fly .9s steps(9) infinite; }
#display .being.none .bi { animation: none; }
#display .shadow { position: absolute; bottom: 12px; width: 30px; height: 2px; background: var(--scene-shadow); opacity: var(--scene-shadow-a); z-index: 1; pointer-events: none; }
#display .spot {
  position: absolute; bottom: 9px; width: 30px; height: 5px; z-index: 2; pointer-events: none; opacity: 0;
  background: repeating-linear-gradient(90deg, var(--line2) 0 2px, var(--bg) 2px 3px); transition: opacity .12s;
}
#display .spot.on { opacity: 1; background: repeating-linear-gradient(90deg, var(--ink3) 0 2px, var(--bg) 2px 3px); }
@keyframes sc-bob { 0%, 100% { transform: translateY(0); } 50% { transform: translateY(-1px); } }
@keyframes sc-fly { 0%, 100% { transform: translate(0, 0); } 50% { transform: translate(1px, -2px); } }
#display .say {
  position: absolute; bottom: 66px; z-index: 5; pointer-events: none; padding: 4px 7px; white-space: nowrap;
  background: repeating-linear-gradient(0deg, var(--scan) 0 1px, transparent 1px 3px), var(--bg);
  border: 1px solid var(--line2); border-radius: 3px; box-shadow: 0 4px 10px rgba(0,0,0,.45);
  font-family: var(--mono); text-transform: uppercase; opacity: 0; transform: translateY(3px);
  transition: opacity .12s, transform .12s;
}
body.white #display .say { box-shadow: 0 4px 10px rgba(35,42,60,.18); }
#display .say.below { bottom: auto; }
#display .say.show { opacity: 1; transform: translateY(0); }
#display .say .sn { font-size: 7.5px; letter-spacing: 1.5px; color: var(--ink); line-height: 1.3; }
#display .say .ss { font-size: 6.5px; letter-spacing: 1.2px; color: var(--ink3); line-height: 1.3; }
#display .say .ss.warn { color: var(--warn); }
#display .say .t1, #display .say .t2 { position: absolute; left: calc(var(--tail, 30px) - 6px); width: 0; height: 0; border-left: 5px solid transparent; border-right: 5px solid transparent; }
#display .say .t1 { bottom: -6px; border-top: 6px solid var(--line2); }
#display .say .t2 { bottom: -4px; border-top: 6px solid var(--bg); }
#display .say.below .t1 { bottom: auto; top: -6px; border-top: 0; border-bottom: 6px solid var(--line2); }
#display .say.below .t2 { bottom: auto; top: -4px; border-top: 0; border-bottom: 6px solid var(--bg); }

/* The overlays and the header button are shown and hidden with the hidden attribute. */
#banner[hidden], #upd[hidden], #appUpd[hidden], #updGo[hidden], #updSkip[hidden], #display .ss.hidden { display: none !important; }

/* notice banner */
#banner { position: absolute; inset: 0; z-index: 10; animation: sc-fadein .32s steps(4); }
#banner.link { cursor: pointer; }
#bannerImg { display: block; width: 100%; height: 100%; object-fit: cover; user-select: none; -webkit-user-drag: none; pointer-events: none; }
#bannerX {
  position: absolute; top: 4px; right: 4px; width: 22px; height: 22px; border: 0; border-radius: 2px; padding: 0;
  background: rgba(0,0,0,.6) center / 9px 9px no-repeat; cursor: pointer; font-size: 0; color: transparent;
  image-rendering: pixelated;
  background-image: url("data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 7 7' shape-rendering='crispEdges'%3E%3Cpath fill='%23fff' d='M0 0h1v1H0zM6 0h1v1H6zM1 1h1v1H1zM5 1h1v1H5zM2 2h1v1H2zM4 2h1v1H4zM3 3h1v1H3zM2 4h1v1H2zM4 4h1v1H4zM1 5h1v1H1zM5 5h1v1H5zM0 6h1v1H0zM6 6h1v1H6z'/%3E%3C/svg%3E");
}
#bannerX:hover { background-color: rgba(0,0,0,.85); }
@keyframes sc-fadein { from { opacity: 0; } to { opacity: 1; } }

/* manager update box */
#upd { position: absolute; inset: 0; z-index: 12; display: flex; align-items: center; justify-content: center; background: var(--scene-sky); animation: sc-fadein .32s steps(4); }
#upd .upd-panel {
  width: 78%; max-width: 400px; display: flex; flex-direction: column; gap: 7px; padding: 10px 12px;
  border: 1px solid var(--line2); border-radius: var(--radius); background: var(--well); box-shadow: inset 0 2px 8px rgba(0,0,0,.35);
}
body.white #upd .upd-panel { box-shadow: inset 0 2px 8px rgba(35,42,60,.14); }
#updTitle { font-family: var(--mono); font-size: 9.5px; letter-spacing: 2px; text-transform: uppercase; color: var(--ink); }
#updSub { font-family: var(--mono); font-size: 7.5px; letter-spacing: 1.5px; text-transform: uppercase; line-height: 1.6; color: var(--ink3); min-height: 24px; }
#updSub.warn { color: var(--warn); }
#updBar { height: 3px; border-radius: 2px; background: linear-gradient(90deg, var(--accent) 0 calc(var(--p, 0) * 100%), var(--line) calc(var(--p, 0) * 100%) 100%); }
#upd .upd-btns { display: flex; justify-content: flex-end; gap: 6px; min-height: 22px; }

/* help panel */
.lc-backdrop { position: absolute; inset: 0; z-index: 30; background: var(--overlay-dim); display: none; align-items: center; justify-content: center; }
.lc-backdrop.open { display: flex; }
.lc-panel {
  width: 88%; max-width: 380px; display: flex; flex-direction: column; background: var(--bg);
  border: 1px solid var(--line2); border-radius: var(--radius); box-shadow: 0 14px 48px rgba(0,0,0,.62);
  animation: lc-in .18s ease-out;
}
body.white .lc-panel { box-shadow: 0 14px 48px rgba(35,42,60,.25); }
@keyframes lc-in { from { transform: translateY(6px); opacity: 0; } to { transform: none; opacity: 1; } }
.lc-head { display: flex; align-items: flex-start; gap: 13px; padding: 13px 16px; border-bottom: 1px solid var(--line); }
.lc-heads { flex: 1; display: flex; flex-direction: column; gap: 4px; }
.lc-title { font-size: 17px; font-weight: 650; letter-spacing: 1.5px; }
.lc-x { width: 18px; height: 14px; border: 1px solid var(--line2); border-radius: 2px; background: var(--box); color: var(--ink3); font: 11px/12px var(--mono); cursor: pointer; padding: 0; }
.lc-x:hover { color: var(--ink2); border-color: var(--ink3); }
.lc-body { padding: 14px 16px 4px; display: flex; flex-direction: column; }
.lc-text { font-family: var(--mono); font-size: 11px; line-height: 1.65; letter-spacing: .3px; color: var(--ink2); margin-bottom: 14px; }
.lc-btns + .lc-text { margin-top: 14px; }
.lc-field { display: flex; flex-direction: column; gap: 5px; margin-bottom: 10px; }
.lc-field input {
  width: 100%; background: var(--box); border: 1px solid var(--line2); border-radius: var(--radius); padding: 9px 11px;
  color: var(--ink); font-family: var(--mono); font-size: 12px; letter-spacing: .5px; user-select: text; cursor: text; outline: none;
}
.lc-field input:focus { border-color: var(--accent-line); }
.lc-btns { display: flex; flex-direction: column; gap: 8px; padding: 6px 0 4px; }
.lc-btn {
  width: 100%; font-family: var(--mono); font-size: 11px; letter-spacing: 2px; text-transform: uppercase; padding: 11px 12px;
  border-radius: var(--radius); border: 1px solid var(--line2); background: var(--well); color: var(--ink2); text-align: center; cursor: pointer;
}
.lc-btn:hover { color: var(--ink); border-color: var(--ink3); }
.lc-btn.primary { border-color: var(--accent-line); background: var(--accent-bg); color: var(--accent); }
.lc-foot { padding: 10px 14px; border-top: 1px solid var(--line); text-align: center; color: var(--ink3); }

@media (prefers-reduced-motion: reduce) {
  #display *, #banner, #upd, .lc-panel, .lc-backdrop { animation: none !important; transition: none !important; }
}
`;
  document.head.appendChild(sheet);
})();
