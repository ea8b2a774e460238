// Types of localservice.js, the LocalService page client (and of the global
// LocalService that localservice.global.js defines). Commands and events in
// detail: REFERENCE.md beside this file.

export type TransportKind = "websocket" | "http" | "image";

export type ErrorKind =
  | "bad-option" | "not-found" | "offline" | "destroyed" | "timeout" | "no-answer" | "no-window" | "failed";

/** What makeLogin() gives: the port-detection handshake's values. */
export interface Login {
  sessionID: string;
  user: string;
  challenge: string;
  iterations: number;
  random: number;
}

export interface ConnectOptions {
  /** "127.0.0.1" */
  host?: string;
  /** 33686 */
  portStart?: number;
  /** 33696, not included */
  portEnd?: number;
  /** null: no handshake */
  login?: Login | null;
  /** the order to use them in: ["websocket", "http", "image"] */
  transports?: TransportKind[];
  /** per request: 10000 */
  timeoutMs?: number;
  /** per port probe: 2000 */
  detectTimeoutMs?: number;
  /** the WebSocket to the port found: 10000 */
  webSocketTimeoutMs?: number;
  /** after a fall-back, the first background try of the WebSocket, then doubling up to 60000: 5000 */
  webSocketRetryMs?: number;
  /** Base64 characters per GET of the image channel: 1500 */
  pieceLength?: number;
  /** true */
  reconnect?: boolean;
  /** 250, doubling */
  reconnectFirstDelayMs?: number;
  /** 5000 */
  reconnectMaxDelayMs?: number;
}

export interface WindowOptions {
  /** "Chrome" */
  className?: string;
  /** true: a child of the browser window */
  embed?: boolean;
  /** "[data-localservice-overlay]" */
  overlays?: string;
  /** the viewport's place in the browser window, in screen pixels */
  offset?: { left: number; top: number } | (() => { left: number; top: number });
  /** 1 */
  screenScale?: number;
  /** "auto": a native window where the service can place one, else video inside the page */
  render?: "auto" | "native" | "page";
}

export interface RequestOptions {
  timeoutMs?: number;
}

/** An answer: the envelope and the command's own keys. */
export interface Answer {
  errorCode: number;
  errorModule: number | string;
  sequence?: string;
  uuid?: string;
  [key: string]: unknown;
}

/** Keys of a video command; without wndIndex the selected play window. */
export interface VideoParams {
  wndIndex?: number;
  [key: string]: unknown;
}

export interface PlayParams extends VideoParams {
  username?: string;
  password?: string;
  live?: boolean;
  /** "answer" (default): when the service took the play; "firstFrame": when the first picture shows */
  until?: "answer" | "firstFrame";
  /** how long until "firstFrame" may take: the connection's timeoutMs */
  timeoutMs?: number;
}

export interface PlayInfo extends Answer {
  wndIndex: number;
  state: "stopped" | "connecting" | "playing" | "paused" | "reconnecting" | "ended" | "failed";
}

export type Layout = number | Array<Array<Record<string, unknown>>>;

export declare class LocalServiceError extends Error {
  name: "LocalServiceError";
  kind: ErrorKind;
  /** "errorCode" of the answer or the stream's error event */
  code?: number;
  /** "errorModule" */
  module?: number | string;
  /** the whole answer or event */
  answer?: Answer;
  /** the option or parameter refused ("bad-option") */
  option?: string;
}

/** The service's event objects: "cmd", "uuid", "errorCode", "errorModule" and the event's keys. */
export interface ServiceEvent {
  cmd: string;
  uuid: string;
  errorCode: number;
  errorModule: number | string;
  [key: string]: unknown;
}

export interface StreamEvent extends ServiceEvent {
  wndIndex: number;
  event: "connected" | "firstFrame" | "lost" | "reconnecting" | "ended" | "error" | "recordStopped" | "stopped";
  errorMessage?: string;
}

export interface MouseEventDetail extends ServiceEvent {
  mouseInfo: { wndIndex: number; type: "press" | "release" | "move" | "doubleClick" | "wheel"; x: number; y: number;
               width: number; height: number; buttons: number; delta?: number };
}

export interface ConnectionEventMap {
  disconnect: CustomEvent<{ uuid: string }>;
  reconnect: CustomEvent<{ uuid: string; previousUuid: string; kind: TransportKind }>;
  transportchange: CustomEvent<{ kind: TransportKind; previousKind: TransportKind; uuid: string }>;
  close: CustomEvent<null>;
}

export interface WindowEventMap {
  fullscreenchange: CustomEvent<{ full: boolean; by: "command" | "doubleClick" | "service"; wndIndex?: number }>;
  restored: CustomEvent<{ uuid: string }>;
  error: CustomEvent<LocalServiceError>;
  "window.onPluginEventHandler": CustomEvent<StreamEvent>;
  "window.onGetSelectWndInfo": CustomEvent<ServiceEvent & { wndIndex: number }>;
  "window.onMouseEvent": CustomEvent<MouseEventDetail>;
  "window.onFullScreenChange": CustomEvent<ServiceEvent & { full: false }>;
  "video.onDrawCallback": CustomEvent<ServiceEvent & { shapeInfo: Record<string, unknown>; type: "ended" }>;
  "video.onDrawEvent": CustomEvent<ServiceEvent & { action: "moved" | "resized" }>;
}

export interface TalkParams {
  /** "host:port" of the device */
  address: string;
  accessKey: string;
  secretKey: string;
  deviceSerial: string;
  alarmTime: string;
  talkId: string;
}

export interface AudioControls {
  startTalk(params: TalkParams): Promise<Answer & { handle: number; audioTimeLeft: number; talkId: string }>;
  stopTalk(params: { talkId: string; handle?: number }): Promise<Answer>;
  talkStatus(handle: number): Promise<Answer & { talkStatus: number }>;
  changeModel(handle: number, model: string): Promise<Answer>;
}

export interface VideoControls {
  /** any video command: "video.<name>" with the window's uuid */
  command(name: string, params?: Record<string, unknown>, options?: RequestOptions): Promise<Answer | null>;
  play(url: string, params?: PlayParams): Promise<Answer & { wndIndex: number }>;
  stop(params?: VideoParams): Promise<Answer>;
  stopAll(): Promise<Answer>;
  layout(layout: Layout): Promise<Answer & { windowCount: number }>;
  ratio(mode: "fit" | "fill" | "stretch", params?: VideoParams): Promise<Answer>;
  select(wndIndex: number): Promise<Answer>;
  pause(params?: VideoParams): Promise<Answer>;
  resume(params?: VideoParams): Promise<Answer>;
  info(params?: VideoParams): Promise<PlayInfo>;
  snapshot(params?: VideoParams & { path?: string; format?: "png" | "jpg" }): Promise<Answer & { path: string; width: number; height: number }>;
  startRecord(params?: VideoParams & { path?: string; format?: "mp4" | "mkv" }): Promise<Answer & { path: string }>;
  stopRecord(params?: VideoParams): Promise<Answer & { path: string; duration: number }>;
  zoom(params?: VideoParams & { rect?: { x: number; y: number; width: number; height: number } }): Promise<Answer>;
  unzoom(): Promise<Answer>;
  sound(on: boolean, params?: VideoParams): Promise<Answer>;
  volume(volume: number, params?: VideoParams): Promise<Answer>;
  draw(params: { type: "rect" | "polygon" | "line" | "point" | "grid"; enable?: boolean; wndIndex?: number }): Promise<Answer>;
  clearDrawing(): Promise<Answer>;
}

export declare class Connection extends EventTarget {
  readonly uuid: string;
  readonly kind: TransportKind | "";
  readonly port: number;
  readonly state: "open" | "reconnecting" | "closed";
  readonly audio: AudioControls;
  /** Rejects at once with kind "no-answer" (nothing sent) for a name in none of the service's command tables. */
  request(cmd: string, params?: Record<string, unknown>, options?: RequestOptions): Promise<Answer | null>;
  attach(element: Element, options?: WindowOptions): Promise<WindowHandle>;
  close(): void;
  addEventListener<K extends keyof ConnectionEventMap>(type: K, listener: (event: ConnectionEventMap[K]) => void,
                                                       options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: (event: CustomEvent<ServiceEvent>) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
}

export declare class WindowHandle extends EventTarget {
  readonly uuid: string;
  /** the window's own connection */
  readonly connection: Connection;
  readonly element: Element;
  readonly video: VideoControls;
  /** where the pictures are drawn: a native window over the element, or video inside the page */
  readonly render: "native" | "page";
  hide(): Promise<void>;
  show(): Promise<void>;
  destroy(): Promise<void>;
  fullScreen(full?: boolean): Promise<Answer | null>;
  setFullScreenCapability(on: boolean): Promise<Answer | null>;
  addEventListener<K extends keyof WindowEventMap>(type: K, listener: (event: WindowEventMap[K]) => void,
                                                   options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
}

/** Finds the service and opens a connection; bad options reject with "bad-option" before any network work. */
export declare function connect(options?: ConnectOptions): Promise<Connection>;

/** A login for the port-detection handshake; challenge and iterations of a device's own login, or made up. */
export declare function makeLogin(user: string, challenge?: string, iterations?: number): Promise<Login>;
